#include "app/application.h"

#include <fcntl.h>
#include <unistd.h>
#include <QApplication>
#include <QGuiApplication>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "app/app_services.h"
#include "app/main_window.h"
#include "desktop/prompter.h"
#include "readers/ffmpeg_reader.h"
#include "settings/ini_settings_store.h"
#include "settings/settings_persistence.h"

namespace kestrune {

bool StartLibraries(const std::string& programFolder, Prompter& prompter,
                    const DecodingStarter& startDecoding) {
    switch (startDecoding(programFolder)) {
        case DecodingLayerStart::Ready:
            break;
        case DecodingLayerStart::WrongVersion:
            return false;
        case DecodingLayerStart::InitFailed:
            prompter.Fail(nullptr, QString::fromLatin1(kDecodingLayerInitFailedText));
            return false;
    }
    InitFFmpegLogging();
    // Temporary names draw on the C library's generator; seed it differently every start.
    const auto sinceStart = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    std::srand(static_cast<unsigned>(std::time(nullptr)) *
               static_cast<unsigned>(sinceStart.count()));
    return true;
}

void StopLibraries() {
    FreeDecodingLayer();
}

namespace {

// A request to end the program from outside (logging out, kill, Ctrl+C in the terminal that
// started it) closes the window as the Close button does: a run stops, settings are saved.
int gStopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = write(gStopPipe[1], &byte, 1);
}

void CloseOnStopSignals(QWidget& window) {
    if (pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(gStopPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (read(gStopPipe[0], bytes, sizeof bytes) > 0) {
        }
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

}  // namespace

int RunKestrune(int& argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrune"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kestrune"));
    QApplication::setOrganizationName(QStringLiteral("Kestrune"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.kestrune.Kestrune"));

    QtPrompter prompter;
    QtFileDialogs dialogs;
    QtDesktop desktop;
    const std::string programFolder = RunningProgramFolder();
    if (!StartLibraries(programFolder, prompter))
        return 1;
    int status = 0;
    {
        IniSettingsStore store;
        AppServices services{prompter, dialogs,       desktop,
                             store,    programFolder, FindDocumentsFolder()};
        MainWindow window(services);
        window.Initialise();
        CloseOnStopSignals(window);
        window.show();
        status = app.exec();
    }
    StopLibraries();
    return status;
}

}  // namespace kestrune
