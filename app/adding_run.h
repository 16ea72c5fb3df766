#pragma once

#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/folder_walk.h"
#include "engine/probe_run.h"

namespace kestrune {

class ProgressWindow;

// Adding files to the list without holding up the window: dropped folders are searched and
// the files probed on threads of their own, while the window's thread takes the results in the
// order the files were given and shows them in the progress window ("[2/9] Adding file
// x.wav..."), whose Cancel stops the run.
class AddingRun : public QObject {
    Q_OBJECT
public:
    // The files about to be probed, in order: the owner may ask what they need first.
    using BeforeProbing = std::function<void(const std::vector<std::string>& paths)>;
    // A file probed, numbered from 1 of total.
    using FileProbed = std::function<void(int number, int total, const ProbedFile& file)>;
    // The run is over (cancelled or not) and its progress window gone.
    using Finished = std::function<void(bool cancelled)>;

    // window is shown and taken over: the run closes it at its end.
    AddingRun(SessionConfig& config, int workers, std::unique_ptr<ProgressWindow> window,
              BeforeProbing beforeProbing, FileProbed fileProbed, Finished finished);
    ~AddingRun() override;

    // Probes paths in order.
    void StartFiles(std::vector<std::string> paths);
    // Searches the dropped folders and filters the dropped files first, then probes what was
    // taken, in the order found.
    void StartDrop(std::vector<std::string> dropped, CandidateFilter filter);
    // What the progress window's Cancel does.
    void Cancel();
    ProgressWindow* Window() const { return window_.get(); }

private:
    void Tick();
    void Finish(bool cancelled);
    // From the search's and the probing's threads once they are done: the last tick is wanted
    // now, not at the next beat of the timer. At most one is on its way at a time.
    void Wake();

    SessionConfig& config_;
    const int workers_;
    std::unique_ptr<ProgressWindow> window_;
    BeforeProbing beforeProbing_;
    FileProbed fileProbed_;
    Finished finished_;
    QTimer timer_;

    std::thread search_;
    std::atomic<bool> searching_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> woken_{false};
    std::vector<std::string> found_;  // the search's result, the search thread's until joined

    std::unique_ptr<ProbeRun> probe_;
    int total_ = 0;
    int number_ = 0;
};

}  // namespace kestrune
