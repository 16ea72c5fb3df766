#include "app/window_host.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QWidget>

#include "app/app_services.h"
#include "app/desktop_links.h"
#include "app/file_list_view.h"
#include "app/progress_dialog.h"
#include "desktop/prompter.h"
#include "desktop/wait_cursor.h"
#include "settings/settings_persistence.h"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;

// How often a run lets the window breathe, and how often the dialog's texts and bars change.
// Both are far below what a person notices and far above what a block costs.
constexpr auto kPumpInterval = std::chrono::milliseconds(10);
constexpr auto kPaintInterval = std::chrono::milliseconds(50);

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

WindowHost::WindowHost(QWidget& mainWindow, FileListView& list, AppServices& services)
    : mainWindow_(mainWindow), list_(list), services_(services) {}

WindowHost::~WindowHost() {
    delete dialog_.data();
}

void WindowHost::ShowProgress(bool visible) {
    if (visible) {
        delete dialog_.data();
        cancelFromOutside_ = false;
        pending_ = Shown{};
        dialog_ = new ProgressDialog(&mainWindow_);
        dialog_->show();
        // The main window is disabled during a run; the dialog must still take the Cancel.
        dialog_->setEnabled(true);
        dialog_->raise();
        dialog_->activateWindow();
        lastPaint_ = Clock::now();
        return;
    }
    if (dialog_) {
        dialog_->hide();
        dialog_->deleteLater();
        dialog_ = nullptr;
    }
}

void WindowHost::SetFileLabel(const std::string& text) {
    pending_.fileLabel = text;
    pending_.dirty = true;
}

int WindowHost::FileBarWidth() {
    return dialog_ ? dialog_->FileBarWidth() : 300;
}

void WindowHost::SetFileProgress(int value, int maximum) {
    pending_.fileValue = value;
    pending_.fileMaximum = maximum;
    pending_.dirty = true;
}

void WindowHost::SetOverallLabel(const std::string& text) {
    pending_.overallLabel = text;
    pending_.dirty = true;
    // A new item: shown at the next pump, whatever the time since the last change.
    pending_.urgent = true;
}

void WindowHost::SetOverallProgress(int value, int maximum) {
    pending_.overallValue = value;
    pending_.overallMaximum = maximum;
    pending_.dirty = true;
}

void WindowHost::Flush() {
    if (!dialog_ || !pending_.dirty)
        return;
    pending_.dirty = false;
    pending_.urgent = false;
    lastPaint_ = Clock::now();
    if (dialog_->FileLabel() != Text(pending_.fileLabel))
        dialog_->SetFileLabel(Text(pending_.fileLabel));
    if (dialog_->OverallLabel() != Text(pending_.overallLabel))
        dialog_->SetOverallLabel(Text(pending_.overallLabel));
    dialog_->SetFileProgress(pending_.fileValue, pending_.fileMaximum);
    dialog_->SetOverallProgress(pending_.overallValue, pending_.overallMaximum);
}

void WindowHost::PumpMessages() {
    if (pumpObserver_)
        pumpObserver_();
    const auto now = Clock::now();
    const bool urgent = pending_.urgent;
    if (urgent || now - lastPaint_ >= kPaintInterval)
        Flush();
    if (!urgent && now - lastPump_ < kPumpInterval)
        return;
    lastPump_ = now;
    QCoreApplication::processEvents();
}

bool WindowHost::CancelRequested() {
    return cancelFromOutside_ || (dialog_ && dialog_->CancelRequested());
}

void WindowHost::SetItemVolume(int row, const std::string& text) {
    if (FileRow* item = list_.Row(row)) {
        item->setText(FileListView::kVolume, Text(text));
        // An item starts with its volume cleared: bring it into view.
        if (text.empty())
            list_.scrollToItem(item);
    }
}

void WindowHost::SetItemOutput(int row, const std::string& text) {
    if (FileRow* item = list_.Row(row)) {
        item->setText(FileListView::kOutput, Text(text));
        item->setToolTip(FileListView::kOutput, Text(text));
    }
}

void WindowHost::SetOutputColumnWidth(int width) {
    if (list_.columnWidth(FileListView::kOutput) < width)
        list_.setColumnWidth(FileListView::kOutput, width);
}

bool WindowHost::AskYesNo(const std::string& text) {
    return services_.prompter.AskYesNo(&mainWindow_, Text(text));
}

void WindowHost::ShowWarning(const std::string& text) {
    services_.prompter.Warn(&mainWindow_, Text(text));
}

void WindowHost::ShowNotice(const std::string& text) {
    services_.prompter.Inform(&mainWindow_, Text(text));
}

void WindowHost::OpenInBrowser(const std::string& url) {
    WaitCursor wait;
    kestrune::OpenInBrowser(services_.desktop, Text(url));
}

void WindowHost::SelectInExplorer(const std::string& path) {
    WaitCursor wait;
    services_.desktop.ShowInFileManager(QString::fromLocal8Bit(path));
}

void WindowHost::OpenFolder(const std::string& path) {
    WaitCursor wait;
    OpenPath(services_.desktop, QString::fromLocal8Bit(path));
}

bool WindowHost::AskSavePath(const std::string& suggested, std::string& chosen) {
    // suggested is the one filter of the dialog, "MP3 File (*.mp3)": its pattern gives the
    // extension a name typed without one receives.
    const QString filter = Text(suggested);
    const auto match = QRegularExpression(QStringLiteral("\\(\\*\\.([^)]*)\\)")).match(filter);
    const QString extension = match.hasMatch() ? match.captured(1) : QString();
    QString path = services_.dialogs.SaveFile(&mainWindow_, QString(), QString(), {filter});
    if (path.isEmpty())
        return false;
    if (!extension.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".") + extension;
    chosen = QFile::encodeName(path).toStdString();
    return true;
}

void WindowHost::EnableMainWindow(bool enabled) {
    mainWindow_.setEnabled(enabled);
    if (dialog_)
        dialog_->setEnabled(true);
}

std::string WindowHost::DocumentsFolder() {
    if (!services_.documentsFolder.empty())
        return services_.documentsFolder;
    return FindDocumentsFolder();
}

}  // namespace kestrune
