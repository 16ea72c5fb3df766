#include "app/adding_run.h"

#include <filesystem>

#include "app/progress_window.h"
#include "engine/source_list.h"

namespace kestrune {

namespace {

// How often the window takes the files probed meanwhile.
constexpr int kTickMilliseconds = 15;

}  // namespace

AddingRun::AddingRun(SessionConfig& config, int workers, std::unique_ptr<ProgressWindow> window,
                     BeforeProbing beforeProbing, FileProbed fileProbed, Finished finished)
    : config_(config),
      workers_(workers),
      window_(std::move(window)),
      beforeProbing_(std::move(beforeProbing)),
      fileProbed_(std::move(fileProbed)),
      finished_(std::move(finished)) {
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &AddingRun::Tick);
    if (!window_->isVisible())
        window_->show();
    // The main window is disabled meanwhile; its progress window must still take the Cancel.
    window_->setEnabled(true);
}

AddingRun::~AddingRun() {
    cancelled_ = true;
    if (search_.joinable())
        search_.join();
}

void AddingRun::StartFiles(std::vector<std::string> paths) {
    // A question asked here must not meet a tick of this run.
    timer_.stop();
    // A folder of a disc image and its sheet lists the sheet's tracks, not the image as well.
    DropSheetImages(paths);
    if (beforeProbing_)
        beforeProbing_(paths);
    total_ = static_cast<int>(paths.size());
    number_ = 0;
    window_->SetRange(total_);
    probe_ = std::make_unique<ProbeRun>(config_, std::move(paths), workers_, [this] { Wake(); });
    timer_.start();
}

void AddingRun::StartDrop(std::vector<std::string> dropped, CandidateFilter filter) {
    window_->SetText(QStringLiteral("Searching files..."));
    searching_ = true;
    search_ = std::thread([this, dropped = std::move(dropped), filter = std::move(filter)] {
        const auto keepGoing = [this] { return !cancelled_.load(); };
        for (const std::string& path : dropped) {
            std::error_code ec;
            if (std::filesystem::is_directory(path, ec))
                CollectFolderFiles(path, filter, found_, keepGoing);
            else if (IsPlainlyNotMedia(path))
                continue;
            else if (auto taken = FilterCandidate(path, filter))
                found_.push_back(std::move(*taken));
            if (!keepGoing())
                break;
        }
        searching_ = false;
        Wake();
    });
    timer_.start();
}

void AddingRun::Wake() {
    if (woken_.exchange(true))
        return;
    // Dropped with this object when it is gone before the call arrives.
    QMetaObject::invokeMethod(
        this,
        [this] {
            woken_ = false;
            if (timer_.isActive())
                Tick();
        },
        Qt::QueuedConnection);
}

void AddingRun::Cancel() {
    window_->RequestCancel();
}

void AddingRun::Tick() {
    if (window_->CancelRequested()) {
        cancelled_ = true;
        if (probe_) {
            Finish(true);
            return;
        }
    }
    if (search_.joinable()) {
        if (searching_)
            return;
        search_.join();
        if (cancelled_ || found_.empty()) {
            Finish(cancelled_);
            return;
        }
        StartFiles(std::move(found_));
        return;
    }
    if (!probe_)
        return;
    for (const ProbedFile& file : probe_->TakeReady()) {
        ++number_;
        window_->SetText(
            QStringLiteral("[%1/%2] Adding file %3...")
                .arg(QString::number(number_), QString::number(total_),
                     QString::fromLocal8Bit(QByteArray::fromStdString(FileNameOf(file.path)))));
        window_->Step();
        fileProbed_(number_, total_, file);
        if (window_->CancelRequested()) {
            Finish(true);
            return;
        }
    }
    if (probe_->Finished())
        Finish(false);
}

void AddingRun::Finish(bool cancelled) {
    // finished_ may let the owner delete this run (later): nothing here may follow it.
    timer_.stop();
    // The workers stop after the file each is on; what they found is not wanted any more.
    probe_.reset();
    window_.reset();
    if (finished_)
        finished_(cancelled);
}

}  // namespace kestrune
