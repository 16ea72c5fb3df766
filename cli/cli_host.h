#pragma once

#include <atomic>
#include <string>

#include "engine/conversion_host.h"

namespace kestrune::cli {

// How questions are answered without a window.
enum class Answer { kAsk, kYes, kNo };

// The engine's surroundings on a terminal: a progress line on stderr (only when stderr is a
// terminal), Ctrl+C as Cancel, questions answered by flags or at the terminal.
class CliHost : public ConversionHost {
public:
    CliHost(Answer answer, std::atomic<bool>& cancel);

    void SetFileLabel(const std::string& text) override;
    void SetOverallLabel(const std::string& text) override;
    bool CancelRequested() override { return cancel_.load(std::memory_order_relaxed); }
    bool AskYesNo(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    void OpenInBrowser(const std::string& url) override;
    void SelectInExplorer(const std::string& path) override;
    void OpenFolder(const std::string& path) override;
    std::string DocumentsFolder() override;
    // Where DocumentsFolder is, without making it: for plans that must change nothing.
    std::string DocumentsFolderPath() const;

    // Clears the progress line before a result line is printed.
    void ClearLine();
    void SetQuiet(bool quiet) { quiet_ = quiet; }

private:
    void Draw();

    Answer answer_;
    std::atomic<bool>& cancel_;
    bool tty_;
    bool quiet_ = false;
    std::string overall_, file_;
    size_t drawn_ = 0;
};

}  // namespace kestrune::cli
