// Times the window's own work on the offscreen platform, for bench/run_bench.py:
//   kestrune-window-bench add FOLDER SETTINGS          adds every file of FOLDER to the list
//   kestrune-window-bench convert FOLDER SETTINGS ID   adds them, then converts all to format ID
// Prints the seconds the timed step took and the rows it left, and on stderr the longest
// stretch in which the window's thread did not answer while it converted.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/app_services.h"
#include "app/file_list_view.h"
#include "app/main_window.h"
#include "desktop/prompter.h"
#include "readers/bass_reader.h"
#include "readers/ffmpeg_reader.h"
#include "settings/ini_settings_store.h"
#include "settings/settings_persistence.h"

namespace {

// Message boxes go to stderr: a benchmark has nobody to answer them.
class QuietPrompter : public kestrune::Prompter {
public:
    QMessageBox::StandardButton Show(QWidget*, const QString& text, Icon,
                                     QMessageBox::StandardButtons) override {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        return QMessageBox::No;
    }
};

class NoDialogs : public kestrune::FileDialogs {
public:
    QStringList OpenFiles(QWidget*, const QString&, const QString&, const QStringList&) override {
        return {};
    }
    QString SaveFile(QWidget*, const QString&, const QString&, const QStringList&) override {
        return {};
    }
    QString ChooseFolder(QWidget*, const QString&, const QString&) override { return {}; }
};

class NoDesktop : public kestrune::Desktop {
public:
    bool OpenUrl(const QUrl&) override { return true; }
    bool ShowInFileManager(const QString&) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 4 || (args[1] != u"add" && args[1] != u"convert") ||
        (args[1] == u"convert" && args.size() < 5)) {
        std::fprintf(stderr, "usage: %s add|convert FOLDER SETTINGS [FORMAT-ID]\n", argv[0]);
        return 2;
    }
    using namespace kestrune;
    InitFFmpegLogging();
    if (InitDecodingLayer(RunningProgramFolder()) != DecodingLayerStart::Ready)
        return 1;
    QuietPrompter prompter;
    NoDialogs dialogs;
    NoDesktop desktop;
    IniSettingsStore store(args[3].toStdString());
    CheckFirstRun(store);  // the first start is over: the window opens no manual
    AppServices services{prompter, dialogs, desktop, store, RunningProgramFolder(), {}};
    int status = 0;
    {
        MainWindow window(services);
        window.Initialise();
        window.show();
        // Adding and converting run beside the window's thread: wait for the window to be idle.
        const auto untilIdle = [&window] {
            QEventLoop idle;
            QObject::connect(&window, &MainWindow::busyChanged, &idle, [&idle](bool busy) {
                if (!busy)
                    idle.quit();
            });
            if (window.Busy())
                idle.exec();
        };
        const std::string folder = args[2].toStdString();
        using Clock = std::chrono::steady_clock;
        auto start = Clock::now();
        window.AddDropped({folder});
        untilIdle();
        double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (args[1] == u"convert") {
            const int index = window.FormatBox()->findData(args[4].toInt());
            if (index < 0) {
                std::fprintf(stderr, "no format %s\n", args[4].toUtf8().constData());
                status = 2;
            } else {
                window.FormatBox()->setCurrentIndex(index);
                // The longest stretch in which the window's thread could not have taken a click:
                // a timer that asks to run every millisecond notes the gaps between its runs.
                QElapsedTimer sinceTick;
                qint64 longestPause = 0;
                QTimer ticker;
                ticker.setTimerType(Qt::PreciseTimer);
                ticker.setInterval(1);
                QObject::connect(&ticker, &QTimer::timeout, [&] {
                    longestPause = std::max(longestPause, sinceTick.nsecsElapsed());
                    sinceTick.restart();
                });
                start = Clock::now();
                sinceTick.start();
                ticker.start();
                window.ConvertAll();
                untilIdle();
                ticker.stop();
                seconds = std::chrono::duration<double>(Clock::now() - start).count();
                std::fprintf(stderr, "longest pause of the window's thread: %.1f ms\n",
                             static_cast<double>(longestPause) / 1e6);
                for (int i = 0; i < window.List()->RowCount(); ++i)
                    if (window.List()->Row(i)->Entry().outputPath.empty())
                        status = 1;
            }
        }
        std::printf("%.4f seconds, %d rows\n", seconds, window.List()->RowCount());
        window.Shutdown();
    }
    FreeDecodingLayer();
    return status;
}
