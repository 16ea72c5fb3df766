#include "app/window_prompts.h"

#include "app/app_services.h"
#include "app/desktop_links.h"
#include "desktop/prompter.h"
#include "desktop/wait_cursor.h"

namespace kestrune {

bool WindowPrompts::AskYesNo(const std::string& text) {
    return services_.prompter.AskYesNo(&mainWindow_, QString::fromStdString(text));
}

void WindowPrompts::OpenInBrowser(const std::string& url) {
    WaitCursor wait;
    kestrune::OpenInBrowser(services_.desktop, QString::fromStdString(url));
}

void WindowPrompts::OpenFolder(const std::string& path) {
    WaitCursor wait;
    OpenPath(services_.desktop, QString::fromLocal8Bit(path));
}

}  // namespace kestrune
