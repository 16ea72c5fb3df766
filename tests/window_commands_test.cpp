// Converting from the window, its menus and commands, the About box and the links.
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <QDir>

#include "app/about_box.h"
#include "app/desktop_links.h"
#include "app/help_viewer.h"
#include "app/hyper_link.h"
#include "app/progress_dialog.h"
#include "common/version.h"
#include "tests/support/child_process.h"
#include "tests/support/looks.h"
#include "tests/support/window_harness.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;
using namespace Qt::StringLiterals;

// A one-note General MIDI song of about a second.
std::string MakeMidi(const fs::path& path) {
    fs::create_directories(path.parent_path());
    const unsigned char song[] = {'M',  'T',  'h',  'd',  0,    0,    0,    6,
                                  0,    0,    0,    1,    0,    96,  // format 0, 96 ticks
                                  'M',  'T',  'r',  'k',  0,    0,    0,    13,  // one track
                                  0x00, 0x90, 0x3C, 0x64, 0x81, 0x40, 0x80, 0x3C,
                                  0x40, 0x00, 0xFF, 0x2F, 0x00};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(song), sizeof song);
    return path.string();
}

// Every output goes to out/, nothing is asked at the end, the manual is not opened; the files
// convert one at a time unless told otherwise.
void PrepareStore(WindowHarness& h, const fs::path& out, int browse = 0, int workers = 1) {
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    h.store->WriteInt(kOptionsGroup, "SimultaneousConversions", workers);
    h.store->WriteInt(kOptionsGroup, "DestOutputFolderOpt", 399);
    h.store->WriteText(kOptionsGroup, "DestSpecifiedFolder", out.string());
    h.store->WriteInt(kOptionsGroup, "BrowseOutputFolder", browse);
    h.store->Sync();
    fs::create_directories(out);
}

// Saves a picture of the widget when KESTRUNE_SCREENSHOTS names a folder.
void Screenshot(QWidget& widget, const char* name) {
    const char* folder = std::getenv("KESTRUNE_SCREENSHOTS");
    if (!folder || !*folder)
        return;
    fs::create_directories(folder);
    widget.grab().save(QString::fromLocal8Bit(folder) + u"/"_s + QString::fromLatin1(name) +
                       u".png"_s);
}

// --- Converting ----------------------------------------------------------------------------

TEST(Convert, ThreeWavsBecomeMp3sWithTheirRowsFilledAndTheFirstOutputShown) {
    WindowHarness h;
    const fs::path out = h.dir.path() / "out";
    PrepareStore(h, out, 1);
    MainWindow& w = h.Open(true);
    std::vector<std::string> sources;
    for (int i = 1; i <= 3; ++i)
        sources.push_back(MakeWav(h.dir.path() / "in" / ("take" + std::to_string(i) + ".wav"), i));
    AddAndWait(w, sources);
    ChooseFormat(w, FormatId::kMp3);

    // What the progress dialog says while the run goes on, and that the window waits.
    QStringList overall, fileLabels;
    bool windowDisabled = true;
    const auto watching = QObject::connect(&w.Runner(), &RunController::updated, [&] {
        ProgressDialog* d = w.Runner().Dialog();
        if (!d || d->OverallLabel().isEmpty())
            return;
        if (overall.isEmpty() || overall.back() != d->OverallLabel())
            overall << d->OverallLabel();
        if (fileLabels.isEmpty() || fileLabels.back() != d->FileLabel())
            fileLabels << d->FileLabel();
        windowDisabled = windowDisabled && !w.isEnabled() && d->isEnabled() && d->isVisible();
        if (overall.size() == 2 && d->FileBar()->value() > d->FileBar()->maximum() / 2) {
            Screenshot(*d, "progress-dialog");
            Screenshot(w, "window-during-run");
        }
    });
    Named<QPushButton>(w, u"convertButton")->click();
    ASSERT_TRUE(WaitUntilIdle(w));
    QObject::disconnect(watching);

    EXPECT_TRUE(windowDisabled);
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(w.Runner().Dialog(), nullptr);
    EXPECT_EQ(overall, QStringList({u"Converting 1 of 3 file(s) to MP3..."_s,
                                    u"Converting 2 of 3 file(s) to MP3..."_s,
                                    u"Converting 3 of 3 file(s) to MP3..."_s}));
    EXPECT_TRUE(fileLabels.contains(u"Starting to convert take2.wav..."_s) ||
                fileLabels.filter(u"take2.wav"_s).size() > 0);
    EXPECT_EQ(test::FolderEntries(out),
              std::vector<std::string>({"take1.mp3", "take2.mp3", "take3.mp3"}));
    EXPECT_EQ(h.Column(FileListView::kOutput),
              QStringList({u"take1.mp3"_s, u"take2.mp3"_s, u"take3.mp3"_s}));
    EXPECT_EQ(h.Column(FileListView::kVolume),
              QStringList({u"100.00%"_s, u"100.00%"_s, u"100.00%"_s}));
    for (int i = 1; i <= 3; ++i) {
        const ProbeInfo info = FfProbe((out / ("take" + std::to_string(i) + ".mp3")).string());
        ASSERT_TRUE(info.ok);
        EXPECT_EQ(info.codecName, "mp3");
        EXPECT_NEAR(info.duration, i, 0.1);
    }
    ASSERT_EQ(h.desktop.shownInFileManager.size(), 1);
    EXPECT_EQ(h.desktop.shownInFileManager[0],
              QString::fromStdString((out / "take1.mp3").string()));
    Screenshot(w, "window-after-run");

    // Each converted row can now be played and browsed.
    w.List()->clearSelection();
    w.List()->Row(1)->setSelected(true);
    w.PlayDestination();
    w.BrowseDestinationFolder();
    ASSERT_FALSE(h.desktop.opened.isEmpty());
    EXPECT_EQ(h.desktop.opened.back().toLocalFile(),
              QString::fromStdString((out / "take2.mp3").string()));
    EXPECT_EQ(h.desktop.shownInFileManager.back(),
              QString::fromStdString((out / "take2.mp3").string()));
}

TEST(Convert, ConvertSelectedTakesOnlyTheSelectedRowsInListOrder) {
    WindowHarness h;
    const fs::path out = h.dir.path() / "out";
    PrepareStore(h, out);
    h.store->WriteInt(kOptionsGroup, "ID3TagType", 1);       // the custom tag...
    h.store->WriteInt(kTagOptionsGroup, "TrackNumType", 1);  // ...with the run position as track
    h.store->Sync();
    MainWindow& w = h.Open(true);
    std::vector<std::string> sources;
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        sources.push_back(MakeWav(h.dir.path() / "in" / name, 0.5));
    AddAndWait(w, sources);
    ChooseFormat(w, FormatId::kMp3);
    w.List()->Row(2)->setSelected(true);
    w.List()->Row(0)->setSelected(true);

    Named<QAction>(w, u"convertSelectedAction")->trigger();
    ASSERT_TRUE(WaitUntilIdle(w));
    EXPECT_EQ(test::FolderEntries(out), std::vector<std::string>({"a.mp3", "c.mp3"}));
    EXPECT_EQ(h.Column(FileListView::kOutput), QStringList({u"a.mp3"_s, u""_s, u"c.mp3"_s}));
    EXPECT_EQ(FfProbe((out / "c.mp3").string()).Tag("track"), "2");

    // Without a selection the command says so and converts nothing.
    w.List()->clearSelection();
    w.ConvertSelected();
    ASSERT_FALSE(h.prompter.shown.empty());
    EXPECT_EQ(h.prompter.TakeLast(), u"You should select a file at least."_s);
    w.RemoveAll();
    w.ConvertAll();
    EXPECT_EQ(h.prompter.TakeLast(), u"There aren't files in list."_s);
    w.ConvertAllToOne();
    EXPECT_EQ(h.prompter.TakeLast(), u"There aren't files in list."_s);
}

TEST(Convert, ConvertToOneJoinsTheFilesIntoTheFileNamedInTheSaveDialog) {
    WindowHarness h;
    const fs::path out = h.dir.path() / "out";
    PrepareStore(h, out);
    MainWindow& w = h.Open(true);
    AddAndWait(w, {MakeWav(h.dir.path() / "in" / "one.wav", 1.0),
                   MakeWav(h.dir.path() / "in" / "two.wav", 2.0, 22050, 1)});
    ChooseFormat(w, FormatId::kWav);
    const std::string ext = FindOutputFormat(w.Catalogue(), w.Settings().outputFormat)->extension;
    h.dialogs.pathToSave = QString::fromStdString((out / "joined").string());
    Named<QPushButton>(w, u"convertToOneButton")->click();
    ASSERT_TRUE(WaitUntilIdle(w));
    ASSERT_EQ(h.dialogs.saveCalls, 1);
    const QString upper = QString::fromStdString(ext).toUpper();
    EXPECT_EQ(h.dialogs.saveFilters,
              QStringList({upper + u" File (*."_s + QString::fromStdString(ext) + u")"_s}));
    const fs::path joined = out / ("joined." + ext);
    ASSERT_TRUE(fs::exists(joined));
    const ProbeInfo info = FfProbe(joined.string());
    EXPECT_EQ(info.sampleRate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_NEAR(info.duration, 3.0, 0.05);
    EXPECT_EQ(h.Column(FileListView::kOutput),
              QStringList({QString::fromStdString(joined.filename().string()),
                           QString::fromStdString(joined.filename().string())}));

    // A joined file that cannot be written to its end (a full device) fails its files.
    fs::remove(joined);
    fs::create_symlink("/dev/full", joined);
    w.ConvertAllToOne();
    ASSERT_TRUE(WaitUntilIdle(w));
    EXPECT_EQ(h.prompter.TakeLast().left(21), u"Failed to write file "_s);
    const QString failed =
        u"Conversion Failure (Failed to write the output file (is the disk full?))"_s;
    EXPECT_EQ(h.Column(FileListView::kOutput), QStringList({failed, failed}));
    EXPECT_TRUE(w.SummaryLine().startsWith(u"0 converted, 2 failed"_s))
        << w.SummaryLine().toStdString();
    EXPECT_TRUE(w.List()->Row(0)->Entry().outputPath.empty());
    Screenshot(w, "window-join-failed");

    // A cancelled save dialog ends the run before anything starts.
    h.dialogs.pathToSave.clear();
    fs::remove(joined);
    w.ConvertAllToOne();
    EXPECT_FALSE(w.Busy());
    EXPECT_FALSE(fs::exists(joined));
}

TEST(Convert, CancelDuringTheSecondItemLeavesNoOutputAndMarksOnlyThatRow) {
    WindowHarness h;
    const fs::path out = h.dir.path() / "out";
    PrepareStore(h, out, 1);
    MainWindow& w = h.Open(true);
    std::vector<std::string> sources;
    for (int i = 1; i <= 4; ++i)
        sources.push_back(
            MakeWav(h.dir.path() / "in" / ("part" + std::to_string(i) + ".wav"), 10.0));
    AddAndWait(w, sources);
    w.List()->Row(3)->setText(FileListView::kOutput, u"earlier.mp3"_s);
    w.List()->Row(3)->setText(FileListView::kVolume, u"100.00%"_s);
    ChooseFormat(w, FormatId::kMp3);
    // Cancel as soon as the dialog shows the second item.
    int clicks = 0;
    QString times;
    const auto watching = QObject::connect(&w.Runner(), &RunController::updated, [&] {
        ProgressDialog* d = w.Runner().Dialog();
        if (d && d->OverallLabel().startsWith(u"Converting 2 of"_s) && clicks++ == 0) {
            times = d->TimeLabel();
            QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
        }
    });
    const std::string before = ReadFile(sources[1]);
    w.ConvertAll();
    ASSERT_TRUE(WaitUntilIdle(w));
    QObject::disconnect(watching);
    EXPECT_GE(clicks, 1);
    // A quarter of the run done: the dialog tells the time so far and about what is left.
    EXPECT_TRUE(times.startsWith(u"Elapsed: 0:0"_s)) << times.toStdString();
    EXPECT_TRUE(times.contains(u"Time left: about "_s)) << times.toStdString();
    EXPECT_EQ(test::FolderEntries(out), std::vector<std::string>({"part1.mp3"}));
    // The run emptied its rows' cells as it started: a row it never reached shows no earlier
    // run's output as if it were this one's.
    EXPECT_EQ(h.Column(FileListView::kOutput),
              QStringList({u"part1.mp3"_s, u"Cancelled"_s, u""_s, u""_s}));
    EXPECT_EQ(w.List()->Row(3)->text(FileListView::kVolume), u""_s);
    EXPECT_TRUE(w.List()->Row(1)->Entry().outputPath.empty());
    EXPECT_TRUE(h.desktop.shownInFileManager.isEmpty()) << "a cancelled run shows nothing";
    EXPECT_EQ(ReadFile(sources[1]), before);
    EXPECT_TRUE(w.isEnabled());
}

// The outputs do not depend on how many files convert at once: the same names (a second
// source of the same name renamed, track numbers by list position) and the same bytes with one
// and with four simultaneous conversions, and the same as kestrune-cli -j 1 writes.
TEST(Convert, OneOrFourAtOnceWriteTheSameOutputsAsTheCommandLine) {
    WindowHarness h;
    const fs::path in = h.dir.path() / "in";
    const fs::path one = h.dir.path() / "one", four = h.dir.path() / "four",
                   cli = h.dir.path() / "cli";
    PrepareStore(h, one);
    h.store->WriteInt(kOptionsGroup, "ID3TagType", 1);
    h.store->WriteInt(kTagOptionsGroup, "TrackNumType", 1);
    h.store->WriteText(kTagOptionsGroup, "Artist", "Somebody");
    h.store->Sync();
    MainWindow& w = h.Open(true);
    // Lengths that make the workers finish out of list order.
    const std::vector<std::string> sources = {
        MakeWav(in / "a" / "song.wav", 3.0), MakeWav(in / "b" / "song.wav", 0.5, 22050, 1),
        MakeWav(in / "long.wav", 4.0), MakeWav(in / "short.wav", 0.3, 48000, 1),
        MakeWav(in / "mid.wav", 2.0)};
    AddAndWait(w, sources);
    ChooseFormat(w, FormatId::kMp3);
    for (const auto& [workers, folder] : {std::pair{1, one}, std::pair{4, four}}) {
        fs::create_directories(folder);
        w.Settings().destSpecifiedFolder = folder.string();
        w.Settings().simultaneousConversions = workers;
        w.ConvertAll();
        ASSERT_TRUE(WaitUntilIdle(w));
    }
    std::string command = Quote(CliPath()) + " convert --settings " + Quote(h.iniPath) +
                          " -f mp3 -j 1 -o " + Quote(cli.string());
    for (const std::string& source : sources)
        command += " " + Quote(source);
    ASSERT_EQ(test::Run(command), 0);

    const std::vector<std::string> names = {"long.mp3", "mid.mp3", "short.mp3", "song.mp3",
                                            "song_1.mp3"};
    ASSERT_EQ(test::FolderEntries(one), names);
    ASSERT_EQ(test::FolderEntries(four), names);
    ASSERT_EQ(test::FolderEntries(cli), names);
    for (const std::string& name : names) {
        const std::string bytes = ReadFile((one / name).string());
        EXPECT_FALSE(bytes.empty()) << name;
        EXPECT_EQ(ReadFile((four / name).string()), bytes) << name;
        EXPECT_EQ(ReadFile((cli / name).string()), bytes) << name;
    }
    EXPECT_EQ(FfProbe((four / "song_1.mp3").string()).Tag("track"), "2");
    EXPECT_EQ(FfProbe((four / "mid.mp3").string()).Tag("track"), "5");
    EXPECT_EQ(
        h.Column(FileListView::kOutput),
        QStringList({u"song.mp3"_s, u"song_1.mp3"_s, u"long.mp3"_s, u"short.mp3"_s, u"mid.mp3"_s}));
}

// Cancel reaches every worker: nothing is left in the output folder, not even a partial file,
// and every row that was converting says so.
TEST(Convert, CancelDuringAFourWorkerRunLeavesNothingBehind) {
    WindowHarness h;
    const fs::path out = h.dir.path() / "out";
    PrepareStore(h, out, 0, 4);
    MainWindow& w = h.Open(true);
    std::vector<std::string> sources;
    for (int i = 1; i <= 4; ++i)
        sources.push_back(MakeWav(h.dir.path() / "in" / ("long" + std::to_string(i) + ".wav"), 20));
    AddAndWait(w, sources);
    ChooseFormat(w, FormatId::kMp3);
    bool clicked = false;
    const auto watching = QObject::connect(&w.Runner(), &RunController::updated, [&] {
        ProgressDialog* d = w.Runner().Dialog();
        const QStringList cells = h.Column(FileListView::kOutput);
        const bool allConverting = std::all_of(cells.begin(), cells.end(), [](const QString& c) {
            return c.startsWith(u"Converting...");
        });
        if (d && allConverting && !clicked) {
            clicked = true;
            QTest::mouseClick(d->CancelButton(), Qt::LeftButton);
        }
    });
    w.ConvertAll();
    ASSERT_TRUE(WaitUntilIdle(w));
    QObject::disconnect(watching);
    ASSERT_TRUE(clicked);
    EXPECT_EQ(test::FolderEntries(out), std::vector<std::string>());
    EXPECT_EQ(h.Column(FileListView::kOutput),
              QStringList({u"Cancelled"_s, u"Cancelled"_s, u"Cancelled"_s, u"Cancelled"_s}));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(w.List()->Row(i)->Entry().outputPath.empty()) << i;
}

// With album gain the song of a folder that is done first waits for the other, and its row
// says so until the album is measured; the last never waits. Two workers: either may be first.
TEST(Convert, AnAlbumsRowSaysItWaitsUntilTheAlbumIsDone) {
    WindowHarness h;
    const fs::path out = h.dir.path() / "out";
    PrepareStore(h, out, 0, 2);
    MainWindow& w = h.Open(true);
    AddAndWait(w, {MakeWav(h.dir.path() / "in" / "one.wav", 1.0),
                   MakeWav(h.dir.path() / "in" / "two.wav", 1.0)});
    ChooseFormat(w, FormatId::kFlac);
    w.Settings().replayGain = ReplayGainMode::kAlbum;
    QStringList seen[2];
    const auto watching = QObject::connect(&w.Runner(), &RunController::updated, [&] {
        const QStringList cells = h.Column(FileListView::kOutput);
        for (int row = 0; row < 2; ++row)
            if (!cells.value(row).isEmpty() &&
                (seen[row].isEmpty() || seen[row].back() != cells.value(row))) {
                seen[row].push_back(cells.value(row));
                if (cells.value(row) == u"Waiting for the album"_s)
                    Screenshot(w, "window-album-waiting");
            }
    });
    w.ConvertAll();
    ASSERT_TRUE(WaitUntilIdle(w));
    QObject::disconnect(watching);
    int waited = 0;
    for (int row = 0; row < 2; ++row) {
        const QString name = row == 0 ? u"one.flac"_s : u"two.flac"_s;
        ASSERT_GE(seen[row].size(), 2) << row;
        EXPECT_EQ(seen[row].back(), name);
        if (seen[row].contains(u"Waiting for the album"_s)) {
            ++waited;
            EXPECT_EQ(seen[row].mid(seen[row].size() - 2),
                      QStringList({u"Waiting for the album"_s, name}));
        }
    }
    EXPECT_EQ(waited, 1);
    EXPECT_EQ(test::FolderEntries(out), (std::vector<std::string>{"one.flac", "two.flac"}));
}

TEST(Convert, MidiWithoutTheSoundFontAsksAndFailsOnlyTheMidiRow) {
    WindowHarness h(WindowHarness::Program::WithoutSoundFont);
    const fs::path out = h.dir.path() / "out";
    PrepareStore(h, out);
    MainWindow& w = h.Open(true);
    ASSERT_EQ(w.SoundFontLoaded(), 0);
    AddAndWait(w, {MakeMidi(h.dir.path() / "in" / "tune.mid"),
                   MakeWav(h.dir.path() / "in" / "song.wav", 0.5)});
    ASSERT_EQ(w.List()->RowCount(), 2);
    ChooseFormat(w, FormatId::kMp3);

    h.prompter.answer = QMessageBox::No;
    w.ConvertAll();
    ASSERT_TRUE(WaitUntilIdle(w));
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Question);
    EXPECT_TRUE(h.prompter.shown[0].text.startsWith(
        u"Dear user, to decode MIDI file, file \"ct4mgm.sf2\" is required."_s));
    EXPECT_TRUE(h.prompter.shown[0].text.contains(
        u"\""_s + QString::fromStdString(h.programFolder) + u"\""_s));
    EXPECT_EQ(h.Column(FileListView::kOutput),
              QStringList({u"Failure. Requires file \"ct4mgm.sf2\"."_s, u"song.mp3"_s}));
    // The window says how the run ended, until the next command; the user was watching it, so
    // no notification.
    EXPECT_TRUE(w.SummaryLine().startsWith(u"1 converted, 1 failed, 0 skipped in 0:0"_s))
        << w.SummaryLine().toStdString();
    EXPECT_TRUE(h.desktop.notifications.isEmpty());

    // Yes: the program folder and the download page open, and the run ends at once.
    h.prompter.shown.clear();
    h.prompter.answer = QMessageBox::Yes;
    fs::remove(out / "song.mp3");
    w.ConvertAll();
    ASSERT_TRUE(WaitUntilIdle(w));
    EXPECT_EQ(h.prompter.shown.size(), 1u);
    EXPECT_FALSE(fs::exists(out / "song.mp3"));
    ASSERT_GE(h.desktop.opened.size(), 2);
    EXPECT_EQ(QDir(h.desktop.opened[h.desktop.opened.size() - 2].toLocalFile()),
              QDir(QString::fromStdString(h.programFolder)));
    EXPECT_EQ(h.desktop.opened.back().toString(), u"https://kestrune.org/download/ct4mgm.sf2"_s);
}

// --- The format box, menus and commands ----------------------------------------------------

TEST(Commands, VideoItemIsRefusedAndThePreviousFormatStaysUnsaved) {
    WindowHarness h;
    PrepareStore(h, h.dir.path() / "out");
    MainWindow& w = h.Open(true);
    ChooseFormat(w, FormatId::kFlac);
    const FormatId flac = w.Settings().outputFormat;
    const std::string stored = ReadFile(h.iniPath);
    w.FormatBox()->setCurrentIndex(w.FormatBox()->count() - 1);
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Information);
    EXPECT_EQ(h.prompter.shown[0].buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(w.FormatBox()->currentData().toInt(), StoredValue(FormatId::kFlac));
    EXPECT_EQ(w.Settings().outputFormat, flac);
    EXPECT_EQ(ReadFile(h.iniPath), stored);
}

TEST(Commands, MenuCommandsAreEnabledByTheSelectionAndWhatWasConverted) {
    WindowHarness h;
    PrepareStore(h, h.dir.path() / "out");
    MainWindow& w = h.Open(true);
    auto* listMenu = Named<QMenu>(w, u"listMenu");
    ASSERT_NE(listMenu, nullptr);
    // The enabled commands, by their object names less "Action".
    const auto enabled = [&] {
        w.UpdateMenuState();
        QStringList on;
        for (QAction* a : listMenu->actions())
            if (!a->isSeparator() && a->isEnabled())
                on << a->objectName().remove(u"Action"_s);
        return on;
    };
    EXPECT_EQ(enabled(), QStringList({u"addFiles"_s, u"addFolder"_s}));
    AddAndWait(w, {MakeWav(h.dir.path() / "a.wav", 0.3), MakeWav(h.dir.path() / "b.wav", 0.3)});
    EXPECT_EQ(enabled(), QStringList({u"convertAll"_s, u"convertAllToOne"_s, u"addFiles"_s,
                                      u"addFolder"_s, u"removeAll"_s}));
    w.List()->Row(0)->setSelected(true);
    EXPECT_EQ(enabled(), QStringList({u"playSource"_s, u"convertSelected"_s, u"convertAll"_s,
                                      u"convertSelectedToOne"_s, u"convertAllToOne"_s,
                                      u"browseSourceFolder"_s, u"addFiles"_s, u"addFolder"_s,
                                      u"remove"_s, u"removeAll"_s, u"moveUp"_s, u"moveDown"_s}));
    w.List()->Row(0)->Entry().outputPath = (h.dir.path() / "a.mp3").string();
    EXPECT_TRUE(enabled().contains(u"playDestination"_s));
    EXPECT_TRUE(enabled().contains(u"browseDestinationFolder"_s));
    w.List()->Row(1)->setSelected(true);
    EXPECT_EQ(enabled(),
              QStringList({u"convertSelected"_s, u"convertAll"_s, u"convertSelectedToOne"_s,
                           u"convertAllToOne"_s, u"addFiles"_s, u"addFolder"_s, u"remove"_s,
                           u"removeAll"_s, u"moveUp"_s, u"moveDown"_s}));
    for (QAction* a : Named<QMenu>(w, u"helpMenu")->actions())
        EXPECT_TRUE(a->isEnabled());

    // The keyboard's menu key opens the list menu in the middle of the list; the mouse, where
    // it points. Either way the table above is applied as it opens.
    QContextMenuEvent fromKeys(QContextMenuEvent::Keyboard, QPoint(0, 0),
                               w.List()->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(w.List(), &fromKeys);
    ASSERT_TRUE(WaitUntil([&] { return listMenu->isVisible(); }, 3000));
    const QPoint centre = w.List()->mapToGlobal(w.List()->rect().center());
    EXPECT_LE((listMenu->pos() - centre).manhattanLength(), 2);
    EXPECT_FALSE(Named<QAction>(w, u"playSourceAction")->isEnabled());
    listMenu->close();
    w.List()->clearSelection();
    w.List()->Row(1)->setSelected(true);
    const QPoint spot = w.List()->viewport()->mapToGlobal(QPoint(40, 10));
    QContextMenuEvent fromMouse(QContextMenuEvent::Mouse, QPoint(40, 10), spot);
    QApplication::sendEvent(w.List()->viewport(), &fromMouse);
    ASSERT_TRUE(WaitUntil([&] { return listMenu->isVisible(); }, 3000));
    EXPECT_LE((listMenu->pos() - spot).manhattanLength(), 2);
    EXPECT_TRUE(Named<QAction>(w, u"playSourceAction")->isEnabled());
    listMenu->close();

    // A double-click plays the first selected row.
    h.desktop.opened.clear();
    w.List()->Row(0)->setSelected(true);
    emit w.List()->itemDoubleClicked(w.List()->Row(1), 0);
    ASSERT_EQ(h.desktop.opened.size(), 1);
    EXPECT_EQ(h.desktop.opened[0].toLocalFile(),
              QString::fromStdString((h.dir.path() / "a.wav").string()));
}

TEST(Commands, HelpAndWebCommandsOpenTheirAddressesAndF1ReusesTheHelpWindow) {
    WindowHarness h;
    PrepareStore(h, h.dir.path() / "out");
    MainWindow& w = h.Open(true);
    for (QStringView name :
         {u"tellAFriendAction", u"feedbackAction", u"homepageAction", u"checkLatestVersionAction"})
        Named<QAction>(w, name)->trigger();
    auto* link = Named<HyperLink>(w, u"homepageLink");
    QTest::mouseClick(link, Qt::LeftButton);
    QStringList opened;
    for (const QUrl& url : h.desktop.opened)
        opened << QUrl::fromPercentEncoding(url.toEncoded());
    const QString checkForUpdates = QStringLiteral(
        "https://kestrune.org/checkforupdates/?ver=4.0&build=" KESTRUNE_BUILD_NUMBER);
    EXPECT_EQ(opened,
              QStringList({u"mailto:?subject=Kestrune - very COOL application!!!&body=Download "
                           u"from https://kestrune.org/"_s,
                           u"mailto:support@kestrune.org"_s, u"https://kestrune.org/"_s,
                           checkForUpdates, u"https://kestrune.org/"_s}));
    EXPECT_TRUE(link->IsVisited());

    // F1 opens the manual; F1 and "Help Topics" then bring back the same window.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F1);
    HelpViewer* viewer = HelpViewer::Find();
    ASSERT_NE(viewer, nullptr);
    viewer->showMinimized();
    QApplication::processEvents();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_F1);
    EXPECT_EQ(HelpViewer::Find(), viewer);
    EXPECT_FALSE(viewer->isMinimized());
    Named<QAction>(w, u"helpTopicsAction")->trigger();
    int viewers = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        viewers += qobject_cast<HelpViewer*>(top) && top->isVisible();
    EXPECT_EQ(viewers, 1);

    // Where nothing opens an address or a file, the user is told so.
    h.desktop.openable = false;
    Named<QAction>(w, u"homepageAction")->trigger();
    EXPECT_TRUE(h.prompter.TakeLast().startsWith(u"Unable to open hyperlink:"_s));
    AddAndWait(w, {MakeWav(h.dir.path() / "a.wav", 0.2)});
    w.List()->Row(0)->setSelected(true);
    w.PlaySource();
    EXPECT_TRUE(h.prompter.TakeLast().startsWith(u"Unable to open "_s + u"/"_s));
}

TEST(Commands, CaptionButtonsPopTheHelpMenuMinimiseAndClose) {
    WindowHarness h;
    PrepareStore(h, h.dir.path() / "out");
    MainWindow& w = h.Open(true);
    w.move(-700, 0);  // the small buttons well inside the test screen, so the menu fits there
    auto* help = Named<QToolButton>(w, u"helpButton");
    auto* helpMenu = Named<QMenu>(w, u"helpMenu");
    help->click();
    ASSERT_TRUE(WaitUntil([&] { return helpMenu->isVisible(); }, 3000));
    EXPECT_EQ(helpMenu->pos(), help->mapToGlobal(QPoint(0, help->height())));
    helpMenu->close();
    Named<QToolButton>(w, u"minimizeButton")->click();
    EXPECT_TRUE(WaitUntil([&] { return w.isMinimized(); }, 3000));
    w.showNormal();
    ChooseFormat(w, FormatId::kOgg);
    const int chosen = StoredValue(w.Settings().outputFormat);
    Named<QToolButton>(w, u"closeButton")->click();
    QApplication::processEvents();
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(h.StoredInt("OutputFormat"), chosen);
}

TEST(Commands, KeyboardReachesTheListMenuQuitAndClosesTheHelp) {
    WindowHarness h;
    PrepareStore(h, h.dir.path() / "out");
    MainWindow& w = h.Open(true);
    auto* listMenu = Named<QMenu>(w, u"listMenu");
    // No two commands of a menu share a mnemonic.
    for (QMenu* menu : {listMenu, Named<QMenu>(w, u"helpMenu")}) {
        QStringList keys;
        for (QAction* action : menu->actions()) {
            const QString text = action->text();
            const qsizetype at = text.indexOf(u'&');
            if (at >= 0)
                keys << text.mid(at + 1, 1).toLower();
        }
        EXPECT_EQ(keys.size(), QSet<QString>(keys.begin(), keys.end()).size())
            << keys.join(u' ').toStdString();
    }
    for (const QKeyCombination keys : {QKeyCombination(Qt::ShiftModifier, Qt::Key_F10),
                                       QKeyCombination(Qt::NoModifier, Qt::Key_Menu)}) {
        QTest::keyClick(w.FormatBox(), keys.key(), keys.keyboardModifiers());
        EXPECT_TRUE(WaitUntil([&] { return listMenu->isVisible(); }, 3000));
        listMenu->close();
    }

    w.HelpTopics();
    QPointer<HelpViewer> help = HelpViewer::Find();
    ASSERT_TRUE(help);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(help.data()));
    QTest::keyClick(help.data(), Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([&] { return !help || !help->isVisible(); }, 3000));

    QApplication::setActiveWindow(&w);
    QTest::keyClick(w.List(), Qt::Key_Q, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_FALSE(w.isVisible());
}

// --- About box and links -------------------------------------------------------------------

TEST(Links, AboutBoxNamesTheVersionAndItsButtonsAndLinksOpenTheirAddresses) {
    FakePrompter prompter;
    QStringList opened;
    int updates = 0, friends = 0;
    AboutBox box(
        nullptr,
        [&](const QString& address) {
            opened << address;
            return 33;
        },
        prompter, [&] { ++updates; }, [&] { ++friends; });
    EXPECT_EQ(box.windowTitle(), u"About"_s);
    EXPECT_EQ(AboutBox::TitleLine(), QStringLiteral("Kestrune v4.0 build " KESTRUNE_BUILD_NUMBER));
    EXPECT_EQ(box.HomepageLink()->text(), u"Visit Kestrune Homepage"_s);
    EXPECT_TRUE(box.HomepageLink()->font().underline());
    EXPECT_TRUE(box.SupportLink()->font().underline());
    box.HomepageLink()->Activate();
    box.SupportLink()->Activate();
    EXPECT_EQ(opened, QStringList({u"https://kestrune.org/"_s, u"mailto:support@kestrune.org"_s}));
    EXPECT_EQ(box.HomepageLink()->CurrentColour(), HyperLink::kVisitedColour);
    box.CheckUpdatesButton()->click();
    box.TellAFriendButton()->click();
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(friends, 1);
}

TEST(Links, LinkThatCannotBeOpenedSaysWhyAndStaysUnvisited) {
    FakePrompter prompter;
    RecordingDesktop desktop;
    desktop.openable = false;
    QWidget page;
    HyperLink link(
        u"Homepage"_s, [&](const QString& a) { return OpenInBrowser(desktop, a); }, prompter,
        &page);
    link.SetAddress(u"https://kestrune.org/"_s);
    EXPECT_EQ(link.toolTip(), u"https://kestrune.org/"_s);
    link.Activate();
    EXPECT_EQ(desktop.handedToBrowser, QStringList({u"https://kestrune.org/"_s}));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text,
              u"Unable to open hyperlink:\n\nThere is no application associated\nwith the given "
              u"filename extension."_s);
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Warning);
    EXPECT_FALSE(link.IsVisited());
    EXPECT_EQ(link.CurrentColour(), HyperLink::kLinkColour);

    // The browser for web pages stands in when the desktop has no handler of its own.
    desktop.browserWorks = true;
    link.Activate();
    EXPECT_TRUE(link.IsVisited());

    // A local file that is not there, and one in a folder that is not there either.
    HyperLink file(
        u"file"_s, [&](const QString& a) { return OpenInBrowser(desktop, a); }, prompter, &page);
    file.SetAddress(u"/nonexistent-folder/x.html"_s);
    prompter.shown.clear();
    file.Activate();
    EXPECT_EQ(prompter.TakeLast(),
              u"Unable to open hyperlink:\n\nThe specified path was not found."_s);
    file.SetAddress(QDir::tempPath() + u"/kestrune-missing-page.html"_s);
    file.Activate();
    EXPECT_EQ(prompter.TakeLast(),
              u"Unable to open hyperlink:\n\nThe specified file was not found."_s);
    EXPECT_EQ(HyperlinkFailureText(1234),
              u"Unable to open hyperlink:\n\nUnknown Error (1234) occurred."_s);
}

TEST(Links, LinkTurnsRedUnderTheMouseAndBlueAgainSoonAfterItLeaves) {
    FakePrompter prompter;
    QWidget page;
    page.resize(300, 100);
    HyperLink link(
        u"visit homepage"_s, [](const QString&) { return 33; }, prompter, &page);
    link.move(10, 10);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    EXPECT_EQ(link.CurrentColour(), HyperLink::kLinkColour);
    EXPECT_FALSE(link.font().underline());
    QTest::mouseMove(&link, link.rect().center());
    ASSERT_TRUE(WaitUntil([&] { return link.IsHovering(); }, 1000));
    EXPECT_EQ(link.CurrentColour(), HyperLink::kHoverColour);
    EXPECT_EQ(link.palette().color(QPalette::WindowText), link.ShownColour());
    EXPECT_TRUE(link.font().underline()) << "underlined while the mouse is over it";
    QTest::mouseMove(&page, QPoint(280, 90));
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(WaitUntil([&] { return !link.IsHovering(); }, 1000));
    EXPECT_LE(timer.elapsed(), 150);
    EXPECT_EQ(link.CurrentColour(), HyperLink::kLinkColour);
    EXPECT_FALSE(link.font().underline());

    // Each state is drawn readable on a light and on a dark window alike.
    for (const QColor background : {QColor(239, 239, 239), QColor(53, 53, 53)})
        for (const QColor colour :
             {HyperLink::kLinkColour, HyperLink::kVisitedColour, HyperLink::kHoverColour}) {
            const QColor shown = ReadableOn(colour, background);
            EXPECT_GE(ContrastRatio(shown, background), 4.5) << shown.name().toStdString();
            if (ContrastRatio(colour, background) >= 4.5) {
                EXPECT_EQ(shown, colour);
            }
        }
}

// Under the light and the dark Fusion palette, at 125%, 150% and 200% fonts, the window's
// texts are whole and readable, and the commands do not run into each other. With
// KESTRUNE_SCREENSHOTS set, each look is saved (window-dark-125.png).
TEST(Looks, EveryTextOfTheWindowIsWholeAndReadableInEveryLook) {
    for (const bool dark : {false, true})
        for (const double scale : {1.25, 1.5, 2.0}) {
            LooksScope look(dark, scale);
            WindowHarness h;
            MainWindow& w = h.Open(true);
            AddAndWait(w, {MakeWav(h.dir.path() / "A rather long name of a take.wav", 1)});
            QApplication::processEvents();
            const std::string name = std::string("window-") + (dark ? "dark-" : "light-") +
                                     std::to_string(static_cast<int>(scale * 100));
            EXPECT_EQ(ReadabilityFaults(&w), QStringList()) << name;
            QList<QWidget*> column;
            for (QPushButton* b : w.findChildren<QPushButton*>())
                column.push_back(b);
            column.push_back(w.findChild<QWidget*>(u"formatBox"_s));
            for (qsizetype i = 0; i < column.size(); ++i)
                for (qsizetype j = i + 1; j < column.size(); ++j)
                    EXPECT_FALSE(column[i]->geometry().intersects(column[j]->geometry()))
                        << name << " " << column[i]->objectName().toStdString() << " "
                        << column[j]->objectName().toStdString();
            Screenshot(w, name.c_str());
        }
}

TEST(Links, HtmlHandlerCommandCutsAtTheAddressField) {
    EXPECT_EQ(HtmlHandlerCommand(u"firefox-esr %u"_s, u"https://kestrune.org/"_s),
              QStringList({u"firefox-esr"_s, u"https://kestrune.org/"_s}));
    EXPECT_EQ(
        HtmlHandlerCommand(u"/usr/bin/browser --new-window \"%U\" --flag"_s, u"mailto:a@b.c"_s),
        QStringList({u"/usr/bin/browser"_s, u"--new-window"_s, u"mailto:a@b.c"_s}));
    EXPECT_EQ(HtmlHandlerCommand(u"viewer"_s, u"x"_s), QStringList({u"viewer"_s, u"x"_s}));
    EXPECT_TRUE(HtmlHandlerCommand(u""_s, u"x"_s).isEmpty());
}

}  // namespace
}  // namespace kestrune::test
