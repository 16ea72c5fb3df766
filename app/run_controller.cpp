#include "app/run_controller.h"

#include <QPushButton>
#include <QWidget>
#include <algorithm>
#include <cmath>

#include "app/app_services.h"
#include "app/file_list_view.h"
#include "desktop/prompter.h"
#include "desktop/wait_cursor.h"

namespace kestrune {

namespace {

// How often the window takes what the run reported: far below what a person notices, and
// seldom enough that a flood of progress costs the window next to nothing.
constexpr int kDrainMilliseconds = 25;
// The bars' resolution.
constexpr int kBarSteps = 1000;

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

int Steps(double fraction) {
    return static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * kBarSteps));
}

}  // namespace

RunController::RunController(QWidget& mainWindow, FileListView& list, AppServices& services)
    : mainWindow_(mainWindow), list_(list), services_(services) {
    timer_.setInterval(kDrainMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &RunController::Drain);
}

RunController::~RunController() {
    if (thread_.joinable()) {
        queue_->Cancel();
        thread_.join();
    }
    delete dialog_.data();
}

bool RunController::Start(SessionConfig& config, RunRequest request, std::vector<FileRow*> rows,
                          const std::string& target) {
    if (Running())
        return false;
    rows_ = std::move(rows);
    // Cells of an earlier run would read as this run's until it reaches their rows.
    for (FileRow* row : rows_) {
        row->setText(FileListView::kVolume, QString());
        row->setText(FileListView::kOutput, QString());
        row->setToolTip(FileListView::kOutput, QString());
    }
    converted_ = failed_ = skipped_ = 0;
    summary_.clear();
    clock_.start();
    std::vector<RunPresenter::Item> items;
    for (size_t i = 0; i < request.items.size(); ++i)
        items.push_back({static_cast<int>(i), ColumnTextsOf(request.items[i]).file});
    presenter_ =
        std::make_unique<RunPresenter>(static_cast<RunView&>(*this), std::move(items), target);
    queue_ = std::make_unique<RunEventQueue>();
    ended_ = false;
    cancelled_ = false;
    RunEventQueue* queue = queue_.get();
    thread_ = std::thread(
        [&config, queue, request = std::move(request)] { RunConversion(config, request, *queue); });
    timer_.start();
    return true;
}

void RunController::Drain() {
    // A message box of the run's end takes events while it is open: not another drain.
    if (!queue_ || draining_)
        return;
    draining_ = true;
    if (dialog_ && dialog_->CancelRequested())
        queue_->Cancel();
    queue_->Drain(static_cast<RunObserver&>(*this));
    draining_ = false;
    emit updated();
    if (!ended_)
        return;
    // The run has told its end: the thread is returning.
    thread_.join();
    presenter_.reset();
    rows_.clear();
    emit finished(cancelled_);
}

FileRow* RunController::RowAt(int item) const {
    return item >= 0 && item < static_cast<int>(rows_.size()) ? rows_[static_cast<size_t>(item)]
                                                              : nullptr;
}

// --- The run's events, on the window's thread --------------------------------------------

void RunController::RunStarted(int itemCount) {
    presenter_->RunStarted(itemCount);
    emit updated();
}

void RunController::ItemStarted(int item, Pass pass) {
    presenter_->ItemStarted(item, pass);
    emit updated();
}

void RunController::Progress(int item, Pass pass, double itemFraction, double runFraction) {
    presenter_->Progress(item, pass, itemFraction, runFraction);
    ShowTimes(runFraction);
}

QString RunController::ClockText(qint64 seconds) {
    seconds = std::max<qint64>(seconds, 0);
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const QString ms =
        QStringLiteral("%1:%2")
            .arg(h > 0 ? QStringLiteral("%1").arg(m, 2, 10, QLatin1Char('0')) : QString::number(m))
            .arg(s, 2, 10, QLatin1Char('0'));
    return h > 0 ? QString::number(h) + QStringLiteral(":") + ms : ms;
}

void RunController::ShowTimes(double runFraction) {
    if (!dialog_)
        return;
    const qint64 elapsed = clock_.elapsed() / 1000;
    QString text = QStringLiteral("Elapsed: %1").arg(ClockText(elapsed));
    // Too early an estimate only jumps about: it waits for a twentieth of the run.
    if (runFraction >= 0.05 && clock_.elapsed() > 0) {
        const double left =
            static_cast<double>(clock_.elapsed()) * (1.0 - runFraction) / runFraction / 1000.0;
        text += QStringLiteral("    Time left: about %1").arg(ClockText(std::llround(left)));
    }
    dialog_->SetTimeLabel(text);
}

void RunController::ItemWaitsForAlbum(int item) {
    presenter_->ItemWaitsForAlbum(item);
    emit updated();
}

void RunController::ItemEnded(int item, const ItemOutcome& outcome) {
    // Only a converted item keeps an output path: what Play Destination and Browse
    // Destination Folder use.
    if (FileRow* row = RowAt(item))
        row->Entry().outputPath =
            outcome.end == ItemEnd::kConverted ? outcome.outputPath : std::string();
    switch (outcome.end) {
        case ItemEnd::kConverted:
            ++converted_;
            break;
        case ItemEnd::kNoAudio:
        case ItemEnd::kFailed:
            ++failed_;
            break;
        case ItemEnd::kSkipped:
            ++skipped_;
            break;
        case ItemEnd::kCancelled:
            break;
    }
    presenter_->ItemEnded(item, outcome);
    emit updated();
}

void RunController::RunEnded(const RunSummary& summary) {
    // A join that could not be written to its end left no file: its files failed after all.
    if (summary.merge == RunSummary::Merge::kWriteFailed)
        for (FileRow* row : rows_) {
            if (row->Entry().outputPath.empty())
                continue;
            row->Entry().outputPath.clear();
            --converted_;
            ++failed_;
        }
    ended_ = true;
    cancelled_ = summary.cancelled;
    summary_ = QStringLiteral("%1 converted, %2 failed, %3 skipped%4 in %5")
                   .arg(converted_)
                   .arg(failed_)
                   .arg(skipped_)
                   .arg(cancelled_ ? QStringLiteral(", cancelled") : QString())
                   .arg(ClockText((clock_.elapsed() + 500) / 1000));
    timer_.stop();
    presenter_->RunEnded(summary);
}

// --- What the presenter shows --------------------------------------------------------------

void RunController::ShowProgress(bool visible) {
    if (visible) {
        delete dialog_.data();
        dialog_ = new ProgressDialog(&mainWindow_);
        // Cancel reaches the workers at once, not at the next look at the dialog.
        connect(dialog_->CancelButton(), &QPushButton::clicked, this,
                &RunController::RequestCancel);
        dialog_->SetFileProgress(0, kBarSteps);
        dialog_->SetOverallProgress(0, kBarSteps);
        dialog_->show();
        // The main window is disabled during a run; the dialog must still take the Cancel.
        dialog_->setEnabled(true);
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    if (dialog_) {
        dialog_->hide();
        dialog_->deleteLater();
        dialog_ = nullptr;
    }
}

void RunController::SetFileLabel(const std::string& text) {
    if (dialog_ && dialog_->FileLabel() != Text(text))
        dialog_->SetFileLabel(Text(text));
}

void RunController::SetFileProgress(double fraction) {
    if (dialog_)
        dialog_->SetFileProgress(Steps(fraction), kBarSteps);
}

void RunController::SetOverallLabel(const std::string& text) {
    if (dialog_ && dialog_->OverallLabel() != Text(text))
        dialog_->SetOverallLabel(Text(text));
}

void RunController::SetOverallProgress(double fraction) {
    if (dialog_)
        dialog_->SetOverallProgress(Steps(fraction), kBarSteps);
}

void RunController::SetItemVolume(int item, const std::string& text) {
    if (FileRow* row = RowAt(item)) {
        row->setText(FileListView::kVolume, Text(text));
        // An item starts with its volume emptied: bring it into view.
        if (text.empty())
            list_.scrollToItem(row);
    }
}

void RunController::SetItemOutput(int item, const std::string& text) {
    if (FileRow* row = RowAt(item)) {
        row->setText(FileListView::kOutput, Text(text));
        row->setToolTip(FileListView::kOutput, Text(text));
    }
}

void RunController::SetItemProgress(int item, const std::string& text) {
    if (FileRow* row = RowAt(item))
        row->setText(FileListView::kOutput, Text(text));
}

void RunController::WidenOutputColumn() {
    constexpr int kWide = 500;
    if (list_.columnWidth(FileListView::kOutput) < kWide)
        list_.setColumnWidth(FileListView::kOutput, kWide);
}

void RunController::ShowWarning(const std::string& text) {
    services_.prompter.Warn(&mainWindow_, Text(text));
}

void RunController::ShowInFileManager(const std::string& path) {
    WaitCursor wait;
    services_.desktop.ShowInFileManager(QString::fromLocal8Bit(path));
}

}  // namespace kestrune
