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
using namespace Qt::StringLiterals;

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
        EXPECT_EQ(w.windowTitle(), u"Kestrune"_s);
        EXPECT_FALSE(w.windowIcon().isNull());
        EXPECT_NE(w.SoundFontLoaded(), 0);
        ASSERT_TRUE(WaitUntil([] { return HelpViewer::Find() != nullptr; }, 5000));
        HelpViewer* viewer = HelpViewer::Find();
        EXPECT_TRUE(viewer->windowState() & Qt::WindowMaximized);
        EXPECT_TRUE(viewer->Browser()->toPlainText().contains(u"Your first conversion"_s));
        // The pages' shared stylesheet reached the window: headings in the manual's blue.
        QTextCursor heading(viewer->Browser()->document()->findBlockByNumber(1));
        for (QTextBlock b = viewer->Browser()->document()->begin(); b.isValid(); b = b.next())
            if (b.text() == u"Kestrune Help"_s)
                heading = QTextCursor(b);
        heading.movePosition(QTextCursor::NextCharacter);
        EXPECT_EQ(heading.charFormat().foreground().color(), QColor(0x1d, 0x4f, 0x91));
        EXPECT_EQ(h.StoredInt("FirstRun"), 0);

        // FLAC chosen, then the window closed: the manual goes with it, the format is kept.
        ChooseFormat(w, FormatId::kFlac);
        EXPECT_EQ(w.Settings().outputFormat, FormatId::kFlac);
        h.Close();
        EXPECT_EQ(HelpViewer::Find(), nullptr);
        EXPECT_EQ(h.StoredInt("OutputFormat"), StoredValue(FormatId::kFlac));
    }
    MainWindow& again = h.Open(true);
    QTest::qWait(50);
    EXPECT_EQ(HelpViewer::Find(), nullptr) << "the manual opens on the first start only";
    EXPECT_EQ(again.FormatBox()->currentData().toInt(), StoredValue(FormatId::kFlac));
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

TEST(StartUp, ResizedWindowGivesTheListTheRoomAndComesBackAsItWasLeft) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    {
        MainWindow& w = h.Open(true);
        const QSize listBefore = w.List()->size();
        w.resize(1250, 850);
        QApplication::processEvents();
        EXPECT_EQ(w.List()->size(), listBefore + QSize(300, 200));
        EXPECT_EQ(Named<QPushButton>(w, u"addFilesButton")->geometry().topLeft(), QPoint(11, 72));
        auto* close = Named<QToolButton>(w, u"closeButton");
        EXPECT_EQ(close->geometry().right(), 1250 - 12);
        w.List()->setColumnWidth(FileListView::kFile, 333);
        w.List()->SortByColumn(FileListView::kDuration);
        w.List()->SortByColumn(FileListView::kDuration);  // descending
        h.Close();
    }
    EXPECT_EQ(h.StoredInt("WindowWidth"), 1250);
    MainWindow& w = h.Open(true);
    EXPECT_EQ(w.size(), QSize(1250, 850));
    EXPECT_EQ(w.List()->columnWidth(FileListView::kFile), 333);
    EXPECT_EQ(w.List()->SortedColumn(), FileListView::kDuration);
    EXPECT_EQ(w.List()->SortOrder(), Qt::DescendingOrder);
    // Smaller than the first start's size it cannot be made.
    w.resize(600, 400);
    EXPECT_EQ(w.size(), QSize(950, 650));
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
    EXPECT_EQ(prompter.shown[0].text, u"Failed to initialize the software (0x0002020)."_s);
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
    // The labels, tips and names are what a user and assistive tools meet.
    struct Expected {
        QStringView object, text, tip, name;
        QRect at;
    };
    const Expected buttons[] = {
        {u"addFilesButton", u"&Add Files", u"Add files", u"Add Files", {11, 72, 107, 27}},
        {u"addFolderButton",
         u"Add &Folder",
         u"Add files from a folder",
         u"Add Folder",
         {11, 119, 107, 27}},
        {u"removeAllButton",
         u"&Remove All",
         u"Remove all files in list",
         u"Remove All",
         {11, 166, 107, 27}},
        {u"convertButton", u"&Convert", u"Convert all files", u"Convert", {11, 213, 107, 27}},
        {u"convertToOneButton",
         u"Co&nvert to One",
         u"Convert all files into a sinle one file",
         u"Convert to One",
         {11, 297, 107, 27}},
        {u"optionsButton", u"&Options", u"Options", u"Options", {11, 345, 107, 27}},
    };
    for (const Expected& e : buttons) {
        auto* b = Named<QPushButton>(w, e.object);
        ASSERT_NE(b, nullptr) << e.object.toString().toStdString();
        EXPECT_EQ(b->text(), e.text);
        EXPECT_EQ(b->geometry(), e.at) << b->text().toStdString();
        EXPECT_EQ(b->toolTip(), e.tip);
        EXPECT_EQ(AccessibleName(b), e.name);
        EXPECT_NE(b->focusPolicy() & Qt::TabFocus, 0);
        EXPECT_LE(b->fontMetrics().horizontalAdvance(e.name.toString()), b->width() - 4)
            << b->text().toStdString() << " is cut off";
    }
    const Expected captions[] = {
        {u"helpButton", {}, u"Help", u"Help", {867, 11, 21, 21}},
        {u"minimizeButton", {}, u"Minimize", u"Minimize", {893, 11, 21, 21}},
        {u"closeButton", {}, u"Close", u"Close", {918, 11, 21, 21}}};
    for (const Expected& e : captions) {
        auto* b = Named<QToolButton>(w, e.object);
        ASSERT_NE(b, nullptr) << e.object.toString().toStdString();
        EXPECT_EQ(b->geometry(), e.at);
        EXPECT_EQ(b->toolTip(), e.tip);
        EXPECT_EQ(AccessibleName(b), e.name);
    }
    EXPECT_EQ(w.FormatBox()->geometry().topLeft(), QPoint(11, 258));
    EXPECT_EQ(w.FormatBox()->width(), 102);
    EXPECT_EQ(w.FormatBox()->toolTip(), u"Output format");
    // Assistive tools read a drop-down list by its current item, and what it is for.
    EXPECT_EQ(AccessibleName(w.FormatBox()), u" to MP3");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(w.FormatBox())->text(QAccessible::Description),
              u"Output format");
    EXPECT_GE(w.FormatBox()->view()->minimumWidth(), 300);
    EXPECT_EQ(w.List()->geometry(), QRect(137, 63, 803, 575));
    auto* link = Named<HyperLink>(w, u"homepageLink");
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->geometry(), QRect(9, 618, 113, 20));
    EXPECT_EQ(link->text(), u"visit homepage");
    EXPECT_EQ(link->toolTip(), u"Visit Kestrune Homepage");
    EXPECT_EQ(QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay), 300);

    // The format box: one " to ..." item per format, the video item last.
    ASSERT_EQ(w.FormatBox()->count(), static_cast<int>(w.Catalogue().size()) + 1);
    EXPECT_EQ(w.FormatBox()->itemText(0),
              u" to "_s + QString::fromStdString(w.Catalogue().front().DisplayLabel()));
    EXPECT_EQ(w.FormatBox()->currentText(), u" to MP3");
    EXPECT_EQ(w.FormatBox()->itemText(w.FormatBox()->count() - 1),
              u" to VIDEO (3GP, AVI, FLV, MOV, MP4, MPEG, WMV, etc.)");
    for (int row = 0; row + 1 < w.FormatBox()->count(); ++row)
        EXPECT_TRUE(w.FormatBox()->itemText(row).startsWith(u" to "));

    // The keyboard reaches every command, the list and the link in a sensible order.
    QStringList order;
    QWidget* start = Named<QPushButton>(w, u"addFilesButton");
    start->setFocus();
    QWidget* at = start;
    do {
        order << AccessibleName(at);
        at = at->nextInFocusChain();
        while (at != start && !(at->focusPolicy() & Qt::TabFocus))
            at = at->nextInFocusChain();
    } while (at != start && order.size() < 40);
    EXPECT_EQ(order, QStringList({u"Add Files"_s, u"Add Folder"_s, u"Remove All"_s, u"Convert"_s,
                                  u" to MP3"_s, u"Convert to One"_s, u"Options"_s, u"Files"_s,
                                  u"visit homepage"_s, u"Help"_s, u"Minimize"_s, u"Close"_s}));
}

TEST(Frame, ListHasItsSevenColumnsAndShowsRowsAndCellsToAssistiveTools) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const QStringList headers{u"File"_s,     u"Duration"_s, u"Bit Rate"_s, u"Sample Rate"_s,
                              u"Channels"_s, u"Volume"_s,   u"Output"_s};
    const int widths[] = {206, 70, 80, 85, 75, 70, 200};
    ASSERT_EQ(w.List()->columnCount(), 7);
    for (int c = 0; c < 7; ++c) {
        EXPECT_EQ(w.List()->headerItem()->text(c), headers[c]);
        EXPECT_EQ(w.List()->columnWidth(c), widths[c]);
    }
    const std::string wav = MakeWav(h.dir.path() / "in" / "song.wav", 2.0, 22050, 1);
    AddAndWait(w, {wav});
    ASSERT_EQ(w.List()->RowCount(), 1);
    EXPECT_EQ(w.List()->Row(0)->text(1), u"00:02"_s);
    EXPECT_EQ(w.List()->Row(0)->text(2), u"353 kbps"_s);
    EXPECT_EQ(w.List()->Row(0)->text(3), u"22050 Hz"_s);
    EXPECT_EQ(w.List()->Row(0)->text(4), u"Mono"_s);
    EXPECT_EQ(w.List()->Row(0)->textAlignment(1) & Qt::AlignRight, Qt::AlignRight);

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(w.List());
    ASSERT_NE(list, nullptr);
    QAccessibleTableInterface* table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 1);
    EXPECT_EQ(table->columnCount(), 7);
    EXPECT_EQ(table->columnDescription(3), u"Sample Rate"_s);
    QAccessibleInterface* cell = table->cellAt(0, 0);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), u"song.wav"_s);
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
    ASSERT_EQ(h.dialogs.openFilters.size(), 51);
    EXPECT_EQ(h.dialogs.openFilters.front(), u"All Files (*.*)"_s);
    EXPECT_EQ(h.dialogs.openFilters[1], u"3GPP Files (*.3gp;*.3gpp)"_s);
    EXPECT_EQ(h.dialogs.openFilters.back(), u"YUV Video Files (*.yuv)"_s);
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({u"a.wav"_s, u"b.mp3"_s}));

    // The same files again, one spelled through "..": nothing new, nothing said.
    h.dialogs.filesToOpen = {
        QString::fromStdString((h.dir.path() / "in" / ".." / "in" / "a.wav").string()),
        QString::fromStdString(b)};
    Named<QPushButton>(w, u"addFilesButton")->click();
    ASSERT_TRUE(WaitUntilIdle(w));
    EXPECT_EQ(w.List()->RowCount(), 2);
    EXPECT_TRUE(h.prompter.shown.empty());

    // A dialog that could not open says so with its code.
    h.dialogs.filesToOpen.clear();
    h.dialogs.openError = 2;
    w.AddFiles();
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    EXPECT_EQ(h.prompter.shown[0].text,
              u"Failed to choose files. Error code: 0x2.\n\nTo get help, please contact us at "
              u"support@kestrune.org, and attach the error code above."_s);
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
    Named<QPushButton>(w, u"addFolderButton")->click();
    ASSERT_TRUE(WaitUntil([&] { return !w.Busy(); }));
    EXPECT_EQ(SortedNames(h), QStringList({u"one.wav"_s, u"three.wav"_s, u"two.wav"_s}));
    EXPECT_EQ(h.dialogs.captions.back(), u"Please choose a folder:"_s);
    EXPECT_EQ(h.StoredText("Folder"), music.string() + "/");

    w.AddFolder();
    ASSERT_TRUE(WaitUntil([&] { return !w.Busy(); }));
    EXPECT_EQ(w.List()->RowCount(), 3);
    EXPECT_TRUE(h.prompter.shown.empty());
    // The browser starts where the last folder was chosen, without the trailing "/".
    EXPECT_EQ(h.dialogs.folders.back(), QString::fromStdString(music.string()));
}

TEST(AddFiles, AlbumFolderGivesItsTracksInNaturalOrderAndNothingElse) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const fs::path album = h.dir.path() / "Album";
    for (const char* name : {"Track 10.wav", "Track 2.wav", "Track 1.wav"})
        MakeWav(album / name, 0.2);
    for (const char* name : {"cover.jpg", "rip.log", "album.m3u"})
        std::ofstream(album / name) << "not sound\n";
    h.dialogs.chosenFolder = QString::fromStdString(album.string());
    w.AddFolder();
    ASSERT_TRUE(WaitUntil([&] { return !w.Busy(); }));
    EXPECT_EQ(h.Column(FileListView::kFile),
              QStringList({u"Track 1.wav"_s, u"Track 2.wav"_s, u"Track 10.wav"_s}));
    EXPECT_TRUE(h.prompter.shown.empty()) << h.prompter.shown.front().text.toStdString();
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
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({u"good.wav"_s}));
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    const QString text = h.prompter.shown[0].text;
    EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Warning);
    QString expected = u"Failed to load the following files.\n\n"_s;
    for (int i = 0; i < 30; ++i)
        expected +=
            QString::fromStdString(paths[static_cast<size_t>(i < 10 ? i : i + 1)]) + u"\n"_s;
    expected += u"<more files>...\n"_s;
    EXPECT_TRUE(text.startsWith(expected)) << text.toStdString();
    EXPECT_FALSE(text.contains(u"broken30"_s)) << "only thirty paths are named";
    const std::string detail = w.LastAddingDetail();
    EXPECT_TRUE(text.endsWith(detail.empty()
                                  ? u"\nTo get help, please forward the failure files to "
                                    u"support@kestrune.org."_s
                                  : u"\n"_s + QString::fromStdString(detail)))
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
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({u"fine.wav"_s}));
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    const QString text = h.prompter.shown[0].text;
    EXPECT_TRUE(text.contains(u"junk.mp3"_s));
    EXPECT_TRUE(text.contains(QString::fromUtf8("caf\xEF\xBF\xBD.wav"))) << text.toStdString();
    EXPECT_TRUE(text.endsWith(
        u"\nThere are non-English characters in filename of some files. Please remove the "
        u"characters from filename and then try again."));
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
    EXPECT_EQ(texts[0], u"[1/10] Adding file f0.wav..."_s);
    EXPECT_EQ(texts[2], u"[3/10] Adding file f2.wav..."_s);
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
    EXPECT_EQ(SortedNames(h), QStringList({u"LOUD.MP3"_s, u"song.mp3"_s, u"target.mp3"_s}));
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
    EXPECT_EQ(SortedNames(h), QStringList({u"plain.wav"_s, u"shown.wav"_s}));
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
    EXPECT_EQ(SortedNames(h), QStringList({u"01.wav"_s, u"02.mp3"_s, u"loose.wav"_s}));
    EXPECT_EQ(h.Column(FileListView::kFile).front(), u"loose.wav"_s) << "the drop's order is kept";
}

TEST(AddFiles, AlbumFolderWithAnImageAndItsCueSheetListsExactlyItsTracks) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    const fs::path album = h.dir.path() / "album";
    MakeWav(album / "image.wav", 5.0);
    std::ofstream(album / "image.cue")
        << "FILE \"image.wav\" WAVE\nTRACK 01 AUDIO\nTITLE \"Intro\"\nINDEX 01 00:00:00\n"
           "TRACK 02 AUDIO\nINDEX 00 00:01:00\nINDEX 01 00:02:10\n";
    Drop(w, {FileUrl(album.string())});
    EXPECT_EQ(SortedNames(h), QStringList({u"01 - Intro"_s, u"02 - Track 02"_s}));
    EXPECT_EQ(h.Column(FileListView::kDuration), QStringList({u"00:02"_s, u"00:03"_s}));
    EXPECT_TRUE(h.prompter.shown.empty());
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
    EXPECT_EQ(h.prompter.shown[0].text, u"You should select a file at least."_s);
    EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Information);

    w.List()->Row(1)->setSelected(true);
    QTest::keyClick(w.List(), Qt::Key_Delete);
    EXPECT_EQ(h.Column(FileListView::kFile), QStringList({u"a.wav"_s, u"c.wav"_s}));
    // A removed file can come back.
    AddAndWait(w, {paths[1]});
    EXPECT_EQ(w.List()->RowCount(), 3);

    QTest::keyClick(w.List(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(w.List()->SelectedRows().size(), 3u);
    Named<QPushButton>(w, u"removeAllButton")->click();
    EXPECT_EQ(w.List()->RowCount(), 0);
    AddAndWait(w, paths);
    EXPECT_EQ(w.List()->RowCount(), 3);
}

TEST(FileList, RowsMoveByCtrlArrowsAndByDraggingWithTheirFiles) {
    WindowHarness h;
    h.store->WriteInt(kOptionsGroup, "FirstRun", 0);
    MainWindow& w = h.Open(true);
    std::vector<std::string> paths;
    for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        paths.push_back(MakeWav(h.dir.path() / name, 0.2));
    AddAndWait(w, paths);
    FileListView& list = *w.List();
    list.setCurrentItem(list.Row(2));  // c
    list.clearSelection();
    list.Row(2)->setSelected(true);
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_Up, Qt::ControlModifier);
    QTest::keyClick(&list, Qt::Key_Up, Qt::ControlModifier);
    EXPECT_EQ(h.Column(FileListView::kFile),
              QStringList({u"c.wav"_s, u"a.wav"_s, u"b.wav"_s, u"d.wav"_s}));
    QTest::keyClick(&list, Qt::Key_Down, Qt::ControlModifier);
    EXPECT_EQ(h.Column(FileListView::kFile),
              QStringList({u"a.wav"_s, u"c.wav"_s, u"b.wav"_s, u"d.wav"_s}));

    // d dragged onto the top half of the first row goes first.
    list.clearSelection();
    list.Row(3)->setSelected(true);
    std::unique_ptr<QMimeData> data(list.model()->mimeData({list.model()->index(3, 0)}));
    const QRect first = list.visualItemRect(list.Row(0));
    const QPoint at(first.center().x(), first.top() + 2);
    QDragEnterEvent enter(at, Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::MoveAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_EQ(h.Column(FileListView::kFile),
              QStringList({u"d.wav"_s, u"a.wav"_s, u"c.wav"_s, u"b.wav"_s}));
    // The rows keep their files; no row was lost or doubled on the way.
    EXPECT_EQ(list.Row(0)->Entry().path, paths[3]);
    EXPECT_EQ(list.RowCount(), 4);

    // Files dropped on the list from elsewhere are added, as on the rest of the window.
    QMimeData files;
    files.setUrls({FileUrl(MakeWav(h.dir.path() / "e.wav", 0.2))});
    QDragEnterEvent fileEnter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &fileEnter);
    ASSERT_TRUE(fileEnter.isAccepted());
    QDropEvent fileDrop(QPointF(at), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &fileDrop);
    QApplication::processEvents();
    ASSERT_TRUE(WaitUntil([&] { return !w.Busy(); }));
    EXPECT_EQ(h.Column(FileListView::kFile).back(), u"e.wav"_s);
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
    EXPECT_EQ(column(FileListView::kDuration),
              QStringList({u"00:05"_s, u"01:05"_s, u"59:00"_s, u"1:01:40"_s}));
    clickHeader(FileListView::kDuration);
    EXPECT_EQ(column(FileListView::kDuration),
              QStringList({u"1:01:40"_s, u"59:00"_s, u"01:05"_s, u"00:05"_s}));
    list.SortByColumn(FileListView::kBitRate);
    EXPECT_EQ(column(FileListView::kBitRate),
              QStringList({u"64 kbps"_s, u"96 kbps"_s, u"128 kbps"_s, u"1411 kbps"_s}));
    list.SortByColumn(FileListView::kFile);
    EXPECT_EQ(column(FileListView::kFile),
              QStringList({u"a.mp3"_s, u"b.mp3"_s, u"c.mp3"_s, u"d.mp3"_s}));
    // The rows keep their entries as they move.
    EXPECT_EQ(list.Row(0)->Entry().path, "/music/a.mp3");
}

}  // namespace
}  // namespace kestrune::test
