#pragma once

#include "messages/prompts.h"

class QWidget;

namespace kestrune {

struct AppServices;

// The window's way of asking before a run: message boxes over the main window, and the
// desktop (with the wait cursor) for what an answer opens.
class WindowPrompts : public Prompts {
public:
    WindowPrompts(QWidget& mainWindow, AppServices& services)
        : mainWindow_(mainWindow), services_(services) {}

    bool AskYesNo(const std::string& text) override;
    void OpenInBrowser(const std::string& url) override;
    void OpenFolder(const std::string& path) override;

private:
    QWidget& mainWindow_;
    AppServices& services_;
};

}  // namespace kestrune
