#pragma once
// Drives the main window in-process on the offscreen platform: stand-ins for message boxes,
// dialogs and the desktop, a store and a documents folder in a temporary folder, and a program
// folder with or without the sound font.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "app/app_services.h"
#include "app/file_list_view.h"
#include "app/main_window.h"
#include "tests/support/decoding_layer.h"
#include "tests/support/options_harness.h"

// Views in failure messages as text.
inline void PrintTo(QStringView s, std::ostream* os) {
    PrintTo(s.toString(), os);
}

namespace kestrune::test {

// Open and save dialogs that answer what the test sets, and remember what they were asked.
class ScriptedDialogs : public FakeDialogs {
public:
    QStringList OpenFiles(QWidget*, const QString&, const QString&,
                          const QStringList& filters) override {
        openFilters = filters;
        ++openCalls;
        return filesToOpen;
    }
    QString SaveFile(QWidget*, const QString&, const QString&,
                     const QStringList& filters) override {
        saveFilters = filters;
        ++saveCalls;
        return pathToSave;
    }
    int LastOpenError() const override { return openError; }

    QStringList filesToOpen;
    QString pathToSave;
    int openError = 0;
    int openCalls = 0, saveCalls = 0;
    QStringList openFilters, saveFilters;
};

// The desktop: remembers what it was asked to open or show; openable decides what "works".
class RecordingDesktop : public FakeDesktop {
public:
    bool OpenUrl(const QUrl& url) override {
        opened << url;
        return openable;
    }
    bool ShowInFileManager(const QString& path) override {
        shownInFileManager << path;
        return true;
    }
    bool OpenWithHtmlHandler(const QString& address) override {
        handedToBrowser << address;
        return browserWorks;
    }
    void Notify(const QString& title, const QString& text) override {
        notifications << title + QStringLiteral(": ") + text;
    }
    bool openable = true;
    bool browserWorks = false;
    QStringList shownInFileManager, handedToBrowser, notifications;
};

// Everything a main window is given, in a private folder. programFolder is the build's bin
// folder (sound font, manual, plug-ins) unless the test asks for a bare one.
struct WindowHarness {
    enum class Program { Full, WithoutSoundFont, WithoutManual };

    explicit WindowHarness(Program program = Program::Full)
        : iniPath(dir.File("Kestrune 4.ini")), documents(dir.File("Documents")) {
        std::filesystem::create_directories(documents);
        programFolder = RunningProgramFolder();
        if (program != Program::Full) {
            // A program folder of its own: the manual (when wanted) but never the sound font.
            const std::filesystem::path bare = dir.path() / "program";
            std::filesystem::create_directories(bare);
            if (program == Program::WithoutSoundFont)
                std::filesystem::create_directory_symlink(
                    std::filesystem::path(programFolder) / "manual", bare / "manual");
            programFolder = bare.string() + "/";
        }
        store = std::make_unique<IniSettingsStore>(iniPath);
    }
    ~WindowHarness() {
        window.reset();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                w->close();
        QApplication::processEvents();
    }

    // A new window over the store, set up as at start-up (and shown when asked).
    MainWindow& Open(bool show = false) {
        window.reset();
        services = std::make_unique<AppServices>(
            AppServices{prompter, dialogs, desktop, *store, programFolder, documents});
        window = std::make_unique<MainWindow>(*services);
        window->Initialise();
        if (show) {
            window->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
            window->activateWindow();
            QApplication::setActiveWindow(window.get());
        }
        QApplication::processEvents();
        return *window;
    }

    // Closes the window as the user does, and reads the store afresh.
    void Close() {
        window->close();
        QApplication::processEvents();
        window.reset();
        store = std::make_unique<IniSettingsStore>(iniPath);
    }

    std::string StoredText(const std::string& name) {
        IniSettingsStore fresh(iniPath);
        return fresh.ReadText(kOptionsGroup, name).value_or("");
    }
    int64_t StoredInt(const std::string& name, int64_t missing = -1) {
        IniSettingsStore fresh(iniPath);
        return fresh.ReadInt(kOptionsGroup, name).value_or(missing);
    }

    FileListView& List() { return *window->List(); }
    // The rows' texts of one column, in list order.
    QStringList Column(int column) {
        QStringList texts;
        for (int i = 0; i < List().RowCount(); ++i)
            texts << List().Row(i)->text(column);
        return texts;
    }

    TempDir dir;
    std::string iniPath;
    std::string documents;
    std::string programFolder;
    std::unique_ptr<IniSettingsStore> store;
    FakePrompter prompter;
    ScriptedDialogs dialogs;
    RecordingDesktop desktop;
    std::unique_ptr<AppServices> services;
    std::unique_ptr<MainWindow> window;
};

// A WAV of the given length in seconds (its folder made first); returns its path.
inline std::string MakeWav(const std::filesystem::path& path, double seconds, int rate = 44100,
                           int channels = 2) {
    std::filesystem::create_directories(path.parent_path());
    EXPECT_TRUE(
        WriteWav(path.string(), MakeSignal(rate, channels, static_cast<size_t>(seconds * rate))));
    return path.string();
}

// A control, menu or menu command by its object name; null when there is none.
template <typename T>
T* Named(const QObject& parent, QStringView name) {
    return parent.findChild<T*>(name.toString());
}

// Chooses an output format in the window's format box, as the user does.
inline void ChooseFormat(MainWindow& w, FormatId format) {
    const int index = w.FormatBox()->findData(StoredValue(format));
    ASSERT_GE(index, 0) << StoredValue(format);
    w.FormatBox()->setCurrentIndex(index);
}

// Lets the event loop run until done() holds or the time is up; true when it held.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// Lets the window's run of adding or converting finish; true when it did in time.
inline bool WaitUntilIdle(MainWindow& w, int milliseconds = 60000) {
    return WaitUntil([&] { return !w.Busy(); }, milliseconds);
}

// Adds paths as the list's commands do, and waits until they are in.
inline void AddAndWait(MainWindow& w, const std::vector<std::string>& paths) {
    w.AddFileList(paths);
    EXPECT_TRUE(WaitUntilIdle(w));
}

}  // namespace kestrune::test
