// The main window from start-up to shutdown, its frame, and every way of filling its list.
#include <QAccessible>
#include <QAccessibleTableInterface>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/application.h"
#include "app/help_viewer.h"
#include "app/hyper_link.h"
#include "app/progress_window.h"
#include "tests/support/window_harness.h"

namespace kestrune::test {
namespace {

namespace fs = std::filesystem;

std::string MakeMp3(const fs::path& path, double seconds) {
    fs::create_directories(path.parent_path());
    const std::string command =
        "ffmpeg -loglevel error -y -f lavfi -i sine=frequency=330:duration=" +
        std::to_string(seconds) + " -ac 2 " + Quote(path.string());
    EXPECT_EQ(Run(command), 0);
    return path.string();
}

// A file no reader can make sense of.
std::string MakeJunk(const fs::path& path) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << "this is not audio, whatever its name says";
    return path.string();
}

void Link(const fs::path& target, const fs::path& link) {
    fs::create_directories(link.parent_path());
    fs::create_symlink(target, link);
}

// The stored id of the first format with this extension.
int StoredIdOf(const MainWindow& w, const std::string& extension) {
    for (const OutputFormatEntry& e : w.Catalogue())
        if (e.extension == extension)
            return StoredValue(e.formatId);
    ADD_FAILURE() << "no format " << extension;
    return -1;
}

ProgressWindow* AddingWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* p = qobject_cast<ProgressWindow*>(w); p && p->isVisible())
            return p;
    return nullptr;
}

QString AccessibleName(QObject* object) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(object);
    return a ? a->text(QAccessible::Name) : QString();
}

// Drops urls on the window as a file manager does, and waits until they are in.
void Drop(MainWindow& w, const QList<QUrl>& urls) {
    auto* data = new QMimeData;
    data->setUrls(urls);
    const QPointF at(500, 300);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    EXPECT_TRUE(drop.isAccepted());
    // The drop's work starts from the event loop, once the drop itself is over.
    QApplication::processEvents();
    ASSERT_TRUE(WaitUntil([&] { return !w.Busy() && w.isEnabled(); }));
    QApplication::processEvents();
    delete data;
}

QUrl FileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path));
}

// The texts of the File column, sorted, for comparisons that do not care about order.
QStringList SortedNames(WindowHarness& h) {
    QStringList names = h.Column(FileListView::kFile);
    names.sort();
    return names;
}

// --- Start-up and shutdown -----------------------------------------------------------------

TEST(StartUp, FreshProfileOpensTheManualOnceAndTheChosenFormatComesBack) {
    WindowHarness h;
    {
        MainWindow& w = h.Open(true);
        EXPECT_EQ(w.windowTitle(), "Kestrune");
        EXPECT_FALSE(w.windowIcon().isNull());
        EXPECT_NE(w.SoundFontLoaded(), 0);
        ASSERT_TRUE(WaitUntil([] { return HelpViewer::Find() != nullptr; }, 5000));
        HelpViewer* viewer = HelpViewer::Find();
        EXPECT_TRUE(viewer->windowState() & Qt::WindowMaximized);
        EXPECT_TRUE(viewer->Browser()->toPlainText().contains("Your first conversion"));
        // The pages' shared stylesheet reached the window: headings in the manual's blue.
        QTextCursor heading(viewer->Browser()->document()->findBlockByNumber(1));
        for (QTextBlock b = viewer->Browser()->document()->begin(); b.isValid(); b = b.next())
            if (b.text() == "Kestrune Help")
                heading = QTextCursor(b);
        heading.movePosition(QTextCursor::NextCharacter);
        EXPECT_EQ(heading.charFormat().foreground().color(), QColor(0x1d, 0x4f, 0x91));
        EXPECT_EQ(h.StoredInt("FirstRun"), 0);

        // FLAC chosen, then the window closed: the manual goes with it, the format is kept.
        const int flac = w.FormatBox()->findText(" to FLAC");
        ASSERT_GE(flac, 0);
        w.FormatBox()->setCurrentIndex(flac);
        EXPECT_EQ(StoredValue(w.Settings().outputFormat), StoredIdOf(w, "flac"));
        const int flacId = StoredIdOf(w, "flac");
        h.Close();
        EXPECT_EQ(HelpViewer::Find(), nullptr);
        EXPECT_EQ(h.StoredInt("OutputFormat"), flacId);
    }
    MainWindow& again = h.Open(true);
    QTest::qWait(50);
    EXPECT_EQ(HelpViewer::Find(), nullptr) << "the manual opens on the first start only";
    EXPECT_EQ(again.FormatBox()->currentText(), " to FLAC");
}

TEST(StartUp, StoredFormatThatNamesNoEntryFallsBackToTheFirstAndIsSavedSo) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    h.store->WriteInt(kOptionsGroup, "OutputFormat", 4242);
    h.store->Sync();
    MainWindow& w = h.Open();
    EXPECT_EQ(w.FormatBox()->currentIndex(), 0);
    const int first = w.FormatBox()->itemData(0).toInt();
    EXPECT_EQ(StoredValue(w.Settings().outputFormat), first);
    h.Close();
    EXPECT_EQ(h.StoredInt("OutputFormat"), first);
}

TEST(StartUp, WindowIsResizedTo950By650AndCentredUnlessItHasThatSizeAlready) {
    // The window as it was created (other font metrics give another size), then set up.
    const auto setUp = [](const QRect& created) {
        WindowHarness h;
        h.services = std::make_unique<AppServices>(
            AppServices{h.prompter, h.dialogs, h.desktop, *h.store, h.programFolder, h.documents});
        MainWindow w(*h.services);
        w.setGeometry(created);
        w.Initialise();
        const QRect result = w.geometry();
        w.Shutdown();
        return result;
    };
    const QRect resized = setUp(QRect(3, 4, 700, 500));
    EXPECT_EQ(resized.size(), QSize(950, 650));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((resized.center() - screen.center()).manhattanLength(), 2);
    EXPECT_EQ(setUp(QRect(30, 40, 950, 650)), QRect(30, 40, 950, 650));
}

TEST(StartUp, MissingSoundFontLeavesItUnloadedAndTheWindowStarts) {
    WindowHarness h(WindowHarness::Program::WithoutSoundFont);
    MainWindow& w = h.Open(true);
    EXPECT_EQ(w.SoundFontLoaded(), 0);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(h.prompter.shown.empty());
}

TEST(StartUp, DecodingLayerThatCannotStartIsReportedAndOneOfAnotherVersionEndsSilently) {
    FakePrompter prompter;
    EXPECT_FALSE(StartLibraries("/nowhere/", prompter,
                                [](const std::string&) { return DecodingLayerStart::InitFailed; }));
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "Failed to initialize the software (0x0002020).");
    EXPECT_EQ(prompter.shown[0].icon, Prompter::Icon::Error);

    prompter.shown.clear();
    EXPECT_FALSE(StartLibraries("/nowhere/", prompter, [](const std::string&) {
        return DecodingLayerStart::WrongVersion;
    }));
    EXPECT_TRUE(prompter.shown.empty());

    std::string askedFolder;
    EXPECT_TRUE(StartLibraries("/opt/kestrune/", prompter, [&](const std::string& folder) {
        askedFolder = folder;
        return DecodingLayerStart::Ready;
    }));
    EXPECT_EQ(askedFolder, "/opt/kestrune/");
}

// --- The frame -----------------------------------------------------------------------------

TEST(Frame, ControlsSitWhereTheyShouldWithTheirTextsTipsAndAccessibleNames) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    struct Expected {
        QString text, tip, name;
        QRect at;
    };
    const Expected buttons[] = {
        {"&Add Files", "Add files", "Add Files", {11, 72, 107, 27}},
        {"Add &Folder", "Add files from a folder", "Add Folder", {11, 119, 107, 27}},
        {"&Remove All", "Remove all files in list", "Remove All", {11, 166, 107, 27}},
        {"&Convert", "Convert all files", "Convert", {11, 213, 107, 27}},
        {"Co&nvert to One",
         "Convert all files into a sinle one file",
         "Convert to One",
         {11, 297, 107, 27}},
        {"&Options", "Options", "Options", {11, 345, 107, 27}},
    };
    for (const Expected& e : buttons) {
        QPushButton* b = w.Button(e.text);
        ASSERT_NE(b, nullptr) << e.text.toStdString();
        EXPECT_EQ(b->geometry(), e.at) << e.text.toStdString();
        EXPECT_EQ(b->toolTip(), e.tip);
        EXPECT_EQ(AccessibleName(b), e.name);
        EXPECT_NE(b->focusPolicy() & Qt::TabFocus, 0);
        EXPECT_LE(b->fontMetrics().horizontalAdvance(e.name), b->width() - 4)
            << e.text.toStdString() << " is cut off";
    }
    const QRect captions[] = {{867, 11, 21, 21}, {893, 11, 21, 21}, {918, 11, 21, 21}};
    int i = 0;
    for (const char* name : {"Help", "Minimize", "Close"}) {
        QToolButton* b = w.CaptionButton(name);
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->geometry(), captions[i++]);
        EXPECT_EQ(b->toolTip(), name);
        EXPECT_EQ(AccessibleName(b), name);
    }
    EXPECT_EQ(w.FormatBox()->geometry().topLeft(), QPoint(11, 258));
    EXPECT_EQ(w.FormatBox()->width(), 102);
    EXPECT_EQ(w.FormatBox()->toolTip(), "Output format");
    // Assistive tools read a drop-down list by its current item, and what it is for.
    EXPECT_EQ(AccessibleName(w.FormatBox()), " to MP3");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w.FormatBox())->text(QAccessible::Description),
              "Output format");
    EXPECT_GE(w.FormatBox()->view()->minimumWidth(), 300);
    EXPECT_EQ(w.List()->geometry(), QRect(137, 63, 803, 575));
    EXPECT_EQ(w.HomepageLink()->geometry(), QRect(9, 618, 113, 20));
    EXPECT_EQ(w.HomepageLink()->text(), "visit homepage");
    EXPECT_EQ(w.HomepageLink()->toolTip(), "Visit Kestrune Homepage");
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 300);

    // The format box: one " to ..." item per format, the video item last.
    ASSERT_EQ(w.FormatBox()->count(), static_cast<int>(w.Catalogue().size()) + 1);
    EXPECT_EQ(w.FormatBox()->itemText(0),
              " to " + QString::fromStdString(w.Catalogue().front().DisplayLabel()));
    EXPECT_EQ(w.FormatBox()->currentText(), " to MP3");
    EXPECT_EQ(w.FormatBox()->itemText(w.FormatBox()->count() - 1),
              " to VIDEO (3GP, AVI, FLV, MOV, MP4, MPEG, WMV, etc.)");
    for (int row = 0; row + 1 < w.FormatBox()->count(); ++row)
        EXPECT_TRUE(w.FormatBox()->itemText(row).startsWith(" to "));

    // The keyboard reaches every command, the list and the link in a sensible order.
    QStringList order;
    QWidget* start = w.Button("&Add Files");
    start->setFocus();
    QWidget* at = start;
    do {
        order << AccessibleName(at);
        at = at->nextInFocusChain();
        while (at != start && !(at->focusPolicy() & Qt::TabFocus))
            at = at->nextInFocusChain();
    } while (at != start && order.size() < 40);
    EXPECT_EQ(order, QStringList({"Add Files", "Add Folder", "Remove All", "Convert", " to MP3",
                                  "Convert to One", "Options", "Files", "visit homepage", "Help",
                                  "Minimize", "Close"}));
}

TEST(Frame, ListHasItsSevenColumnsAndShowsRowsAndCellsToAssistiveTools) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const QStringList headers{"File",     "Duration", "Bit Rate", "Sample Rate",
                              "Channels", "Volume",   "Output"};
    const int widths[] = {206, 70, 80, 85, 75, 70, 200};
    ASSERT_EQ(w.List()->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(w.List()->headerItem()->text(c), headers[c]);
        EXPECT_EQ(w.List()->columnWidth(c), widths[c]);
    }
    const std::string wav = MakeWav(h.dir.path() / "in" / "song.wav", 2.0, 22050, 1);
    AddAndWait(w, {wav});
    ASSERT_EQ(w.List()->RowCount(), 1);
    EXPECT_EQ(w.List()->Row(0)->text(1), "00:02");
    EXPECT_EQ(w.List()->Row(0)->text(2), "353 kbps");
    EXPECT_EQ(w.List()->Row(0)->text(3), "22050 Hz");
    EXPECT_EQ(w.List()->Row(0)->text(4), "Mono");
    EXPECT_EQ(w.List()->Row(0)->textAlignment(1) & Qt::AlignRight, Qt::AlignRight);

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w.List());
    ASSERT_NE(list, nullptr);
    QAccessibleTableInterface* table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->columnCount(), 7);
    EXPECT_EQ(table->columnDescription(3), "Sample Rate");
    QAccessibleInterface* cell = table->cellAt(0, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), "song.wav");
}

// --- Adding files --------------------------------------------------------------------------

TEST(AddFiles, DialogOffersEveryFilterAndAddsWhatWasChosenOnce) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const std::string a = MakeWav(h.dir.path() / "in" / "a.wav", 1.0);
    const std::string b = MakeMp3(h.dir.path() / "in" / "b.mp3", 1.0);
    h.dialogs.filesToOpen = {QString::fromStdString(a), QString::fromStdString(b)};
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(WaitUntilIdle(w));
    ASSERT_EQ(h.dialogs.openCalls, 1);
    ASSERT_EQ(h.dialogs.openFilters.size(), 50);
    EXPECT_EQ(h.dialogs.openFilters.front(), "All Files (*.*)");
    EXPECT_EQ(h.dialogs.openFilters[1], "3GPP Files (*.3gp;*.3gpp)");
    EXPECT_EQ(h.dialogs.openFilters.back(), "YUV Video Files (*.yuv)");
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({"a.wav", "b.mp3"}));

    // The same files again, one spelled through "..": nothing new, nothing said.
    h.dialogs.filesToOpen = {
        QString::fromStdString((h.dir.path() / "in" / ".." / "in" / "a.wav").string()),
        QString::fromStdString(b)};
    w.Button("&Add Files")->click();
    ASSERT_TRUE(WaitUntilIdle(w));
    EXPECT_EQ(w.List()->RowCount(), 2);
    EXPECT_TRUE(h.prompter.shown.empty());

    // A dialog that could not open says so with its code.
    h.dialogs.filesToOpen.clear();
    h.dialogs.openError = 2;
    w.AddFiles();
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    EXPECT_EQ(h.prompter.shown[0].text,
              "Failed to choose files. Error code: 0x2.\n\nTo get help, please contact us at "
              "support@kestrune.org, and attach the error code above.");
}

TEST(AddFiles, FolderAddedTwiceListsEachFileOnceAndRemembersTheFolder) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const fs::path music = h.dir.path() / "Music";
    MakeWav(music / "one.wav", 1.0);
    MakeWav(music / "sub" / "two.wav", 1.0);
    MakeWav(music / "sub" / ".hidden" / "three.wav", 1.0);  // hidden folders are walked too
    h.dialogs.chosenFolder = QString::fromStdString(music.string());
    w.Button("Add &Folder")->click();
    ASSERT_TRUE(WaitUntil([&] { return !w.Busy(); }));
    EXPECT_EQ(SortedNames(h), QStringList({"one.wav", "three.wav", "two.wav"}));
    EXPECT_EQ(h.dialogs.captions.back(), "Please choose a folder:");
    EXPECT_EQ(h.StoredText("Folder"), music.string() + "/");

    w.AddFolder();
    ASSERT_TRUE(WaitUntil([&] { return !w.Busy(); }));
    EXPECT_EQ(w.List()->RowCount(), 3);
    EXPECT_TRUE(h.prompter.shown.empty());
    // The browser starts where the last folder was chosen, without the trailing "/".
    EXPECT_EQ(h.dialogs.folders.back(), QString::fromStdString(music.string()));
}

TEST(AddFiles, FailuresAreReportedWithAtMostThirtyPaths) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    std::vector<std::string> paths;
    for (int i = 0; i < 35; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "broken%02d.xyz", i);
        paths.push_back(MakeJunk(h.dir.path() / "junk" / name));
    }
    paths.insert(paths.begin() + 10, MakeWav(h.dir.path() / "good.wav", 0.5));
    AddAndWait(w, paths);
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({"good.wav"}));
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    const QString text = h.prompter.shown[0].text;
    EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Warning);
    QString expected = "Failed to load the following files.\n\n";
    for (int i = 0; i < 30; ++i)
        expected += QString::fromStdString(paths[static_cast<size_t>(i < 10 ? i : i + 1)]) + "\n";
    expected += "<more files>...\n";
    EXPECT_TRUE(text.startsWith(expected)) << text.toStdString();
    EXPECT_FALSE(text.contains("broken30")) << "only thirty paths are named";
    const std::string detail = w.LastAddingDetail();
    EXPECT_TRUE(text.endsWith(detail.empty()
                                  ? QString("\nTo get help, please forward the failure files to "
                                            "support@kestrune.org.")
                                  : "\n" + QString::fromStdString(detail)))
        << text.toStdString();
}

TEST(AddFiles, NameThatIsNotUtf8IsRefusedWithTheNoteAboutCharacters) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const fs::path folder = h.dir.path() / "mixed";
    MakeWav(folder / "fine.wav", 0.5);
    MakeWav(folder / std::string("caf\xE9.wav"), 0.5);  // Latin-1 bytes, not UTF-8
    MakeJunk(folder / "junk.mp3");
    Drop(w, {FileUrl(folder.string())});
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({"fine.wav"}));
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    const QString text = h.prompter.shown[0].text;
    EXPECT_TRUE(text.contains("junk.mp3"));
    EXPECT_TRUE(text.contains(QString::fromUtf8("caf\xEF\xBF\xBD.wav"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(
        "\nThere are non-English characters in filename of some files. Please remove the "
        "characters from filename and then try again."));
}

TEST(AddFiles, CancelAfterTheThirdOfTenFilesKeepsThree) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    std::vector<std::string> paths;
    for (int i = 0; i < 10; ++i)
        paths.push_back(MakeWav(h.dir.path() / ("f" + std::to_string(i) + ".wav"), 0.2));
    std::vector<QString> texts;
    bool disabledMeanwhile = true;
    QObject::connect(&w, &MainWindow::fileAdded, &w, [&](int number) {
        ProgressWindow* p = AddingWindow();
        ASSERT_NE(p, nullptr);
        texts.push_back(p->Text());
        disabledMeanwhile = disabledMeanwhile && !w.isEnabled() && p->isEnabled();
        if (number == 3)
            QTest::mouseClick(p->CancelButton(), Qt::LeftButton);
    });
    AddAndWait(w, paths);
    EXPECT_EQ(w.List()->RowCount(), 3);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "[1/10] Adding file f0.wav...");
    EXPECT_EQ(texts[2], "[3/10] Adding file f2.wav...");
    EXPECT_TRUE(disabledMeanwhile);
    EXPECT_TRUE(w.isEnabled());
    EXPECT_EQ(AddingWindow(), nullptr);
}

TEST(AddFiles, ExtensionFilterFollowsLinksAndSkipsFilesWithoutExtension) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    h.store->WriteInt(kOptionsGroup, "EnableExtFilter", 1);
    h.store->WriteText(kOptionsGroup, "FilterExts", "mp3");
    MainWindow& w = h.Open(true);
    const fs::path drop = h.dir.path() / "drop";
    MakeMp3(drop / "song.mp3", 0.5);
    MakeMp3(drop / "LOUD.MP3", 0.5);
    MakeWav(drop / "other.wav", 0.5);
    MakeWav(drop / "noextension", 0.5);
    const std::string elsewhere = MakeMp3(h.dir.path() / "elsewhere" / "target.mp3", 0.5);
    Link(elsewhere, drop / "shortcut");
    Drop(w, {FileUrl(drop.string())});
    EXPECT_EQ(SortedNames(h), QStringList({"LOUD.MP3", "song.mp3", "target.mp3"}));
    EXPECT_TRUE(h.prompter.shown.empty());
}

TEST(AddFiles, HiddenFilesAreSkippedButAHiddenLinkToAVisibleFileIsFollowed) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    h.store->WriteInt(kOptionsGroup, "DoNotLoadHiddenFiles", 1);
    MainWindow& w = h.Open(true);
    const fs::path folder = h.dir.path() / "folder";
    MakeWav(folder / ".secret.wav", 0.5);
    MakeWav(folder / "plain.wav", 0.5);
    const std::string visible = MakeWav(h.dir.path() / "visible" / "shown.wav", 0.5);
    Link(visible, folder / ".link-to-shown");
    // Links that lead round in a circle are given up, not followed for ever.
    Link(folder / ".loop-b", folder / ".loop-a");
    Link(folder / ".loop-a", folder / ".loop-b");
    // A folder that links back to its parent is walked once.
    Link(folder, folder / "again");
    Drop(w, {FileUrl(folder.string())});
    EXPECT_EQ(SortedNames(h), QStringList({"plain.wav", "shown.wav"}));
    QStringList paths;
    for (int i = 0; i < w.List()->RowCount(); ++i)
        paths << QString::fromStdString(w.List()->Row(i)->Entry().path);
    EXPECT_TRUE(paths.contains(QString::fromStdString(visible)));
}

TEST(AddFiles, DroppedFilesAndFoldersAreAddedAndFilesAreNotFiltered) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const std::string loose = MakeWav(h.dir.path() / "loose.wav", 0.5);
    const fs::path folder = h.dir.path() / "album";
    MakeWav(folder / "01.wav", 0.5);
    MakeMp3(folder / "cd2" / "02.mp3", 0.5);
    Drop(w, {FileUrl(loose), FileUrl(folder.string())});
    EXPECT_EQ(SortedNames(h), QStringList({"01.wav", "02.mp3", "loose.wav"}));
    EXPECT_EQ(h.Column(FileListView::kFile).front(), "loose.wav") << "the drop's order is kept";
}

// --- Removing and sorting ------------------------------------------------------------------

TEST(FileList, RemoveNeedsASelectionAndRemoveAllEmptiesTheListAndItsIndex) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    w.RemoveAll();  // on an empty list: nothing, not even a message
    EXPECT_TRUE(h.prompter.shown.empty());
    std::vector<std::string> paths;
    for (const char* name : {"a.wav", "b.wav", "c.wav"})
        paths.push_back(MakeWav(h.dir.path() / name, 0.3));
    AddAndWait(w, paths);
    ASSERT_EQ(w.List()->RowCount(), 3);
    // When the progress window goes, the window takes the keys again.
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    w.List()->setFocus();
    QTest::keyClick(w.List(), Qt::Key_Delete);
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    EXPECT_EQ(h.prompter.shown[0].text, "You should select a file at least.");
    EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Information);

    w.List()->Row(1)->setSelected(true);
    QTest::keyClick(w.List(), Qt::Key_Delete);
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({"a.wav", "c.wav"}));
    // A removed file can come back.
    AddAndWait(w, {paths[1]});
    EXPECT_EQ(w.List()->RowCount(), 3);

    QTest::keyClick(w.List(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(w.List()->SelectedRows().size(), 3u);
    w.Button("&Remove All")->click();
    EXPECT_EQ(w.List()->RowCount(), 0);
    AddAndWait(w, paths);
    EXPECT_EQ(w.List()->RowCount(), 3);
}

TEST(FileList, HeaderClicksSortByEachColumnsKindAndASecondClickReverses) {
    FileListView list;
    const auto add = [&](const char* name, int seconds, int kbps) {
        SourceFileEntry e;
        e.path = std::string("/music/") + name;
        e.duration = seconds;
        e.bitRate = kbps;
        e.sampleRate = 44100;
        e.sourceChannels = 2;
        list.InsertFileRow(e);
    };
    add("b.mp3", 65, 96);
    add("a.mp3", 3700, 128);  // "1:01:40"
    add("c.mp3", 3540, 64);   // "59:00"
    add("d.mp3", 5, 1411);
    const auto column = [&](int c) {
        QStringList texts;
        for (int i = 0; i < list.RowCount(); ++i)
            texts << list.Row(i)->text(c);
        return texts;
    };
    list.resize(760, 300);
    list.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&list));
    const auto clickHeader = [&](int c) {
        QHeaderView* header = list.header();
        const QPoint at(header->sectionViewportPosition(c) + header->sectionSize(c) / 2,
                        header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    };
    clickHeader(FileListView::kDuration);
    EXPECT_EQ(column(FileListView::kDuration), QStringList({"00:05", "01:05", "59:00", "1:01:40"}));
    clickHeader(FileListView::kDuration);
    EXPECT_EQ(column(FileListView::kDuration), QStringList({"1:01:40", "59:00", "01:05", "00:05"}));
    list.SortByColumn(FileListView::kBitRate);
    EXPECT_EQ(column(FileListView::kBitRate),
              QStringList({"64 kbps", "96 kbps", "128 kbps", "1411 kbps"}));
    list.SortByColumn(FileListView::kFile);
    EXPECT_EQ(column(FileListView::kFile), QStringList({"a.mp3", "b.mp3", "c.mp3", "d.mp3"}));
    // The rows keep their entries as they move.
    EXPECT_EQ(list.Row(0)->Entry().path, "/music/a.mp3");
}

}  // namespace
}  // namespace kestrune::test
