#pragma once

#include <string>

namespace kestrune {

// How a front end asks the user and opens what an answer calls for: message boxes and the
// desktop in the window, the terminal (or the answer flags) in kestrune-cli.
class Prompts {
public:
    virtual ~Prompts() = default;
    // A question captioned "Kestrune", answered Yes (true) or No.
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual void OpenInBrowser(const std::string& url) = 0;
    virtual void OpenFolder(const std::string& path) = 0;
};

}  // namespace kestrune
