#pragma once

#include <string>

namespace kestrune {

// Everything the conversion drivers need from their surroundings: the progress window, the
// message pump, the Cancel button, the file list's cells, questions and notices, and the
// desktop. The window implements it with widgets, kestrune-cli with a terminal, and tests with
// a recorder. The defaults do nothing and answer No, so a host overrides only what it shows.
class ConversionHost {
public:
    virtual ~ConversionHost() = default;

    // The run's progress window: per-file and overall label and bar. A bar's range is
    // 0..maximum; the per-file bar's maximum is its width in pixels.
    virtual void ShowProgress(bool visible) { (void)visible; }
    virtual void SetFileLabel(const std::string& text) { (void)text; }
    virtual int FileBarWidth() { return 300; }
    virtual void SetFileProgress(int value, int maximum) { (void)value, (void)maximum; }
    virtual void SetOverallLabel(const std::string& text) { (void)text; }
    virtual void SetOverallProgress(int value, int maximum) { (void)value, (void)maximum; }

    // Lets the surroundings breathe once per block; the Cancel flag is read right after.
    virtual void PumpMessages() {}
    virtual bool CancelRequested() { return false; }

    // The file list: a row's "Volume" and "Output" cells and the Output column's width.
    virtual void SetItemVolume(int row, const std::string& text) { (void)row, (void)text; }
    virtual void SetItemOutput(int row, const std::string& text) { (void)row, (void)text; }
    virtual void SetOutputColumnWidth(int width) { (void)width; }

    // Message boxes captioned "Kestrune".
    virtual bool AskYesNo(const std::string& text) {
        (void)text;
        return false;
    }
    virtual void ShowWarning(const std::string& text) { (void)text; }
    virtual void ShowNotice(const std::string& text) { (void)text; }

    // The desktop.
    virtual void OpenInBrowser(const std::string& url) { (void)url; }
    virtual void SelectInExplorer(const std::string& path) { (void)path; }
    virtual void OpenFolder(const std::string& path) { (void)path; }
    // The save dialog of a merge; false when the user cancels.
    virtual bool AskSavePath(const std::string& suggested, std::string& chosen) {
        (void)suggested, (void)chosen;
        return false;
    }
    virtual void EnableMainWindow(bool enabled) { (void)enabled; }
    // The user's documents folder (created when missing), or empty when unknown.
    virtual std::string DocumentsFolder() { return {}; }
};

}  // namespace kestrune
