#pragma once

#include <QPointer>
#include <chrono>
#include <functional>
#include <string>

#include "app/progress_dialog.h"
#include "engine/conversion_host.h"

class QWidget;

namespace kestrune {

struct AppServices;
class FileListView;

// The conversion drivers' view of the window: the run's progress dialog, the list's cells, the
// message boxes and the desktop.
class WindowHost : public ConversionHost {
public:
    WindowHost(QWidget& mainWindow, FileListView& list, AppServices& services);
    ~WindowHost() override;

    void ShowProgress(bool visible) override;
    void SetFileLabel(const std::string& text) override;
    int FileBarWidth() override;
    void SetFileProgress(int value, int maximum) override;
    void SetOverallLabel(const std::string& text) override;
    void SetOverallProgress(int value, int maximum) override;

    void PumpMessages() override;
    bool CancelRequested() override;

    void SetItemVolume(int row, const std::string& text) override;
    void SetItemOutput(int row, const std::string& text) override;
    void SetOutputColumnWidth(int width) override;

    bool AskYesNo(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void ShowNotice(const std::string& text) override;

    void OpenInBrowser(const std::string& url) override;
    void SelectInExplorer(const std::string& path) override;
    void OpenFolder(const std::string& path) override;
    bool AskSavePath(const std::string& suggested, std::string& chosen) override;
    void EnableMainWindow(bool enabled) override;
    std::string DocumentsFolder() override;

    // The open progress dialog of a run, or null.
    ProgressDialog* Dialog() const { return dialog_; }
    // Asks the running conversion to stop, as its Cancel button does.
    void RequestCancel() { cancelFromOutside_ = true; }
    // Called whenever the drivers let the window breathe (once per block), before the events
    // are taken: what a person does between two blocks, a test can do here.
    void SetPumpObserver(std::function<void()> observer) { pumpObserver_ = std::move(observer); }

private:
    // Shows what the labels and bars should say now.
    void Flush();

    QWidget& mainWindow_;
    FileListView& list_;
    AppServices& services_;
    QPointer<ProgressDialog> dialog_;
    bool cancelFromOutside_ = false;
    std::function<void()> pumpObserver_;

    // The dialog shows the latest values at most every few dozen milliseconds; the values are
    // kept here in between.
    struct Shown {
        std::string fileLabel, overallLabel;
        int fileValue = 0, fileMaximum = 1, overallValue = 0, overallMaximum = 1;
        bool dirty = false;
        bool urgent = false;  // a new item began: show it at the next chance
    } pending_;
    std::chrono::steady_clock::time_point lastPump_{};
    std::chrono::steady_clock::time_point lastPaint_{};
};

}  // namespace kestrune
