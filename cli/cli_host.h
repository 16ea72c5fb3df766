#pragma once

#include <atomic>
#include <string>

#include "messages/prompts.h"
#include "messages/run_view.h"

namespace kestrune::cli {

// How questions are answered without a window.
enum class Answer { kAsk, kYes, kNo };

// The surroundings on a terminal: a progress line on stderr (only when stderr is a terminal),
// warnings on stderr, questions answered by flags or at the terminal, the desktop through
// xdg-open and the file manager's D-Bus interface.
class CliHost : public Prompts, public RunView {
public:
    explicit CliHost(Answer answer);

    void SetFileLabel(const std::string& text) override;
    void SetOverallLabel(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void ShowInFileManager(const std::string& path) override;

    bool AskYesNo(const std::string& text) override;
    void OpenInBrowser(const std::string& url) override;
    void OpenFolder(const std::string& path) override;

    // Where the user's documents folder is, without making it (a run makes it when it first
    // puts an output there).
    std::string DocumentsFolderPath() const;

    // Clears the progress line before a result line is printed.
    void ClearLine();
    void SetQuiet(bool quiet) { quiet_ = quiet; }

private:
    void Draw();

    Answer answer_;
    bool tty_;
    bool quiet_ = false;
    std::string overall_, file_;
    size_t drawn_ = 0;
};

}  // namespace kestrune::cli
