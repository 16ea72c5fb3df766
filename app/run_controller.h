#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/progress_dialog.h"
#include "app/run_event_queue.h"
#include "engine/run_scheduler.h"
#include "messages/run_presenter.h"
#include "messages/run_view.h"

class QWidget;

namespace kestrune {

struct AppServices;
class FileListView;
class FileRow;

// A conversion run of the window: the engine's scheduler on a thread of its own, its events
// taken on the window's thread a few dozen times a second and turned into the progress
// dialog's texts and the rows' cells. The window's thread never waits for the run.
class RunController : public QObject, private RunView, private RunObserver {
    Q_OBJECT
public:
    RunController(QWidget& mainWindow, FileListView& list, AppServices& services);
    ~RunController() override;

    // Starts converting request's items, which are the given rows, in the list's order;
    // target is what the overall label converts to. False when a run is under way.
    bool Start(SessionConfig& config, RunRequest request, std::vector<FileRow*> rows,
               const std::string& target);
    bool Running() const { return thread_.joinable(); }
    // Asks the run to stop, as its Cancel button does.
    void RequestCancel() {
        if (queue_)
            queue_->Cancel();
    }
    // The open progress dialog of the run, or null.
    ProgressDialog* Dialog() const { return dialog_; }
    // One line on how the last run ended: what was converted, failed and skipped, and the
    // time it took. Empty before the first run ends.
    const QString& Summary() const { return summary_; }
    // "1:05" for 65 seconds, "1:01:05" past the hour.
    static QString ClockText(qint64 seconds);

signals:
    // The window shows something new of the run: after each item's start and end, and after
    // the progress reported since the last time.
    void updated();
    // The run is over and everything it reported is shown.
    void finished(bool cancelled);

private:
    void Drain();

    // What the presenter shows (RunView).
    void ShowProgress(bool visible) override;
    void SetFileLabel(const std::string& text) override;
    void SetFileProgress(double fraction) override;
    void SetOverallLabel(const std::string& text) override;
    void SetOverallProgress(double fraction) override;
    void SetItemVolume(int row, const std::string& text) override;
    void SetItemOutput(int row, const std::string& text) override;
    void SetItemProgress(int row, const std::string& text) override;
    void WidenOutputColumn() override;
    void ShowWarning(const std::string& text) override;
    void ShowInFileManager(const std::string& path) override;

    // The run's events on the window's thread (RunObserver): the rows' entries follow the
    // outcomes, the presenter shows them.
    void RunStarted(int itemCount) override;
    void ItemStarted(int item, Pass pass) override;
    void Progress(int item, Pass pass, double itemFraction, double runFraction) override;
    void ItemWaitsForAlbum(int item) override;
    void ItemEnded(int item, const ItemOutcome& outcome) override;
    void RunEnded(const RunSummary& summary) override;

    FileRow* RowAt(int item) const;
    // The elapsed time and, once part of the run is done, an estimate of the time left.
    void ShowTimes(double runFraction);

    QWidget& mainWindow_;
    FileListView& list_;
    AppServices& services_;
    QPointer<ProgressDialog> dialog_;
    QTimer timer_;
    std::unique_ptr<RunEventQueue> queue_;
    std::unique_ptr<RunPresenter> presenter_;
    std::vector<FileRow*> rows_;
    std::thread thread_;
    bool draining_ = false;
    bool ended_ = false;
    bool cancelled_ = false;
    QElapsedTimer clock_;
    int converted_ = 0, failed_ = 0, skipped_ = 0;
    QString summary_;
};

}  // namespace kestrune
