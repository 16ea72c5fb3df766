// The pages of the Options sheet as a user meets them: what they show, what they refuse and
// what confirming them stores.

#include <QAccessible>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTest>
#include <filesystem>

#include "engine/web_addresses.h"
#include "settings/options/amr_opt_page.h"
#include "settings/options/genre_names.h"
#include "settings/options/opt_general_page.h"
#include "settings/options/page_opt_audio.h"
#include "tests/support/options_harness.h"
#include "writers/windows_media_runtime.h"

namespace kestrune {
namespace {

using test::Choose;
using test::Click;
using test::Control;
using test::ExpectRefused;
using test::Go;
using test::Items;

constexpr int kGeneral = 0, kOutput = 1, kId3 = 2;

class OptionsPages : public ::testing::Test {
protected:
    test::OptionsHarness h;
};

// --- General -------------------------------------------------------------------------------

TEST_F(OptionsPages, GeneralRefusesEachBadEntryInTurnAndKeepsThePage) {
    h.settings.volumeType = kVolumeManual;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        ASSERT_EQ(page->accessibleName(), "General");
        auto* filter = Control<QCheckBox>(
            page, "Only add the following file extensions for \"Add Folder\" and Drag/Drop");
        auto* exts = Control<QLineEdit>(page, filter->accessibleName());
        auto* convert = Control<QCheckBox>(page, "Only convert");
        auto* length = Control<SpinEdit>(page, "Only convert");
        auto* volume = Control<SpinEdit>(page, "Adjust volume manually");
        auto* skip = Control<SpinEdit>(page, "Skip the first");
        auto* simultaneous = Control<SpinEdit>(page, "Simultaneous conversions:");
        // By default as many files at once as the cores this program may use.
        EXPECT_EQ(simultaneous->Text(), QString::number(std::min(UsableCores(), 64)));
        Click(filter);
        Click(convert);
        Click(Control<QCheckBox>(page, "Skip the first"));
        length->SetText("0");
        volume->SetText("ten");
        skip->SetText("soon");

        // Leaving the page and pressing OK meet the same checks, one message at a time: the
        // volume, the lengths, the extensions, the conversion length.
        Go(sheet, "Output");
        ExpectRefused(sheet, h.prompter, "Please enter an integer.", kGeneral, volume);
        volume->SetText("150");
        sheet.accept();
        ExpectRefused(sheet, h.prompter, "Please enter a positive integer.", kGeneral, skip);
        skip->SetText("0");
        // Spaces only, or separators only, name no extension.
        for (const char* none : {"   ", " \t ; ,"}) {
            exts->setText(none);
            sheet.accept();
            ExpectRefused(sheet, h.prompter, "Please enter file extensions you need to filter.",
                          kGeneral, exts);
        }
        exts->setText(" mp3 ");
        Go(sheet, "ID3");
        ExpectRefused(sheet, h.prompter, "Conversion length must be greater than 0 millisecond.",
                      kGeneral, length);
        length->SetText("1");

        // Lengths are unsigned: a sign or a letter is refused, on whichever length edit.
        for (const char* bad : {"-5", "1e3", "", "4294967296"}) {
            skip->SetText(bad);
            sheet.accept();
            ExpectRefused(sheet, h.prompter, "Please enter a positive integer.", kGeneral, skip);
        }
        skip->SetText("4294967295");

        for (const char* bad : {"0", "65", "two"}) {
            simultaneous->SetText(bad);
            sheet.accept();
            ExpectRefused(sheet, h.prompter, "Please enter a number of conversions from 1 to 64.",
                          kGeneral, simultaneous);
        }
        simultaneous->SetText("3");
        sheet.accept();
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_TRUE(h.prompter.shown.empty());
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.enableExtFilter, 1);
    EXPECT_EQ(h.settings.filterExts, " mp3 ");  // stored as typed
    EXPECT_EQ(h.settings.filterExtList, std::vector<std::string>{"mp3"});
    EXPECT_EQ(h.settings.convertLength, 1u);
    EXPECT_EQ(h.settings.enableSkipLength, 1);
    EXPECT_EQ(h.settings.skipLength, 4294967295u);
    EXPECT_EQ(h.settings.volume, 150);
    EXPECT_EQ(h.settings.simultaneousConversions, 3);
}

TEST_F(OptionsPages, GeneralEnablingFollowsChecksAndRadiosAndMovesTheFocus) {
    h.settings.volumeType = 7;  // unknown: shows as "keep original"
    h.settings.monoType = kMonoRight;
    h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        const QString filterText =
            "Only add the following file extensions for \"Add Folder\" and Drag/Drop";
        auto* exts = Control<QLineEdit>(page, filterText);
        auto* skip = Control<SpinEdit>(page, "Skip the first");
        auto* convert = Control<SpinEdit>(page, "Only convert");
        auto* volume = Control<SpinEdit>(page, "Adjust volume manually");
        EXPECT_TRUE(Control<QRadioButton>(page, "R channel")->isChecked());
        EXPECT_TRUE(Control<QRadioButton>(page, "Keep original volume (do not adjust volume)")
                        ->isChecked());
        for (QWidget* w : std::initializer_list<QWidget*>{exts, skip, convert, volume})
            EXPECT_FALSE(w->isEnabled()) << w->accessibleName().toStdString();

        Click(Control<QCheckBox>(page, filterText));
        EXPECT_TRUE(exts->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), exts);
        Click(Control<QCheckBox>(page, "Skip the first"));
        EXPECT_TRUE(skip->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), skip);
        Click(Control<QRadioButton>(page, "Adjust volume manually"));
        EXPECT_TRUE(volume->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), volume);
        Click(Control<QRadioButton>(
            page, "Normalize volume automatically so that all output files have the same volume"));
        EXPECT_FALSE(volume->isEnabled());
        Click(Control<QCheckBox>(page, "Skip the first"));
        EXPECT_FALSE(skip->isEnabled());

        // The spins step by 10 and 100 within their ranges.
        Click(Control<QRadioButton>(page, "Adjust volume manually"));
        volume->stepBy(1);
        EXPECT_EQ(volume->Text(), "110");
        volume->SetText("32765");
        volume->stepBy(1);
        EXPECT_EQ(volume->Text(), "32767");
        volume->SetText("15");
        volume->stepBy(-1);
        EXPECT_EQ(volume->Text(), "10");
        Click(Control<QCheckBox>(page, "Only convert"));
        convert->SetText("250");
        convert->stepBy(2);
        EXPECT_EQ(convert->Text(), "450");
        convert->SetText("3000000000");  // beyond the spin's range: the spin brings it back
        convert->stepBy(-1);
        EXPECT_EQ(convert->Text(), "2147483547");

        // "?" explains the channel choice.
        Click(Control<QPushButton>(page, "?"));
        ASSERT_EQ(h.prompter.shown.size(), 1u);
        EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Information);
        EXPECT_EQ(h.prompter.shown[0].text, QString::fromUtf8(COptGeneralPage::kChannelHelp));
        EXPECT_TRUE(h.prompter.shown[0].text.startsWith(
            "In general, the output sound equals to \"(L+R)/2,\" which contains"));
    });
}

TEST_F(OptionsPages, AnEditThatIsSwitchedOffNeverHoldsThePage) {
    h.settings.volume = 80;
    h.settings.skipLength = 500;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        Control<SpinEdit>(page, "Adjust volume manually")->SetText("loud");
        Control<SpinEdit>(page, "Skip the first")->SetText("soon");
        Control<SpinEdit>(page, "Only convert")->SetText("7000");
        sheet.accept();
        EXPECT_FALSE(sheet.isVisible());
    });
    ASSERT_TRUE(confirmed);
    EXPECT_TRUE(h.prompter.shown.empty());
    EXPECT_EQ(h.settings.volume, 80);            // kept: not a number
    EXPECT_EQ(h.settings.skipLength, 500u);      // kept: not a number
    EXPECT_EQ(h.settings.convertLength, 7000u);  // taken: a number
    EXPECT_EQ(h.settings.enableConvertLength, 0);
}

// --- Output --------------------------------------------------------------------------------

TEST_F(OptionsPages, OutputFolderChoiceEnablingBrowseAndOpen) {
    h.settings.destOutputFolderOpt = 5;  // matches no item
    h.settings.targetExistsOpt = 99;
    h.settings.destSpecifiedFolder = h.dir.File("not here yet");
    h.settings.optStartPageIndex = kOutput;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        ASSERT_EQ(page->accessibleName(), "Output");
        auto* dest = Control<QComboBox>(page, "Output folder:");
        auto* folder = Control<QLineEdit>(page, "Specific folder:");
        auto* browse = Control<QPushButton>(page, "Browse");
        auto* open = Control<QPushButton>(page, "Open");
        auto* tree = Control<QCheckBox>(page, "Keep original directory tree");
        auto* exists = Control<QComboBox>(page, "If target file exists ");
        EXPECT_EQ(Items(dest), (QStringList{"Same as source file", "Specific folder"}));
        EXPECT_EQ(Items(exists),
                  (QStringList{"Rename automatically (add number at end of file name)", "Overwrite",
                               "Skip (not convert)"}));
        EXPECT_EQ(dest->currentText(), "Same as source file");
        EXPECT_EQ(exists->currentIndex(), 0);
        for (QWidget* w : std::initializer_list<QWidget*>{folder, browse, open, tree})
            EXPECT_FALSE(w->isEnabled());
        Choose(dest, "Specific folder");
        for (QWidget* w : std::initializer_list<QWidget*>{folder, browse, open, tree})
            EXPECT_TRUE(w->isEnabled());

        // "Open" on a folder that is not there yet explains; on one that is, opens it.
        Click(open);
        ASSERT_EQ(h.prompter.shown.size(), 1u);
        EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Warning);
        EXPECT_EQ(h.prompter.TakeLast(),
                  "The folder \"" + folder->text() +
                      "\" doesn't exist yet.\n\nNote: the program will create the folder "
                      "automatically when converting files.");
        EXPECT_TRUE(h.desktop.opened.isEmpty());
        folder->setText(QString::fromStdString(h.dir.path().string()));
        Click(open);
        EXPECT_TRUE(h.prompter.shown.empty());
        ASSERT_EQ(h.desktop.opened.size(), 1);
        EXPECT_EQ(h.desktop.opened[0], QUrl::fromLocalFile(folder->text()));

        // "Browse" starts at the folder typed; what is chosen replaces it, ending in "/".
        h.dialogs.chosenFolder = QString::fromStdString(h.dir.File("chosen"));
        Click(browse);
        EXPECT_EQ(h.dialogs.captions, QStringList{"Please choose an output folder:"});
        EXPECT_EQ(h.dialogs.folders, QStringList{QString::fromStdString(h.dir.path().string())});
        EXPECT_EQ(folder->text(), QString::fromStdString(h.dir.File("chosen/")));
        h.dialogs.chosenFolder.clear();  // cancelled: the text stays
        Click(browse);
        EXPECT_EQ(folder->text(), QString::fromStdString(h.dir.File("chosen/")));

        // An empty specific folder cannot be confirmed.
        folder->clear();
        sheet.accept();
        ExpectRefused(sheet, h.prompter, "Please choose an output folder.", kOutput, folder);
        Go(sheet, "General");
        ExpectRefused(sheet, h.prompter, "Please choose an output folder.", kOutput, folder);
        folder->setText("/srv/music out");
        Click(tree);
        Choose(exists, "Skip (not convert)");
        Click(
            Control<QCheckBox>(page, "Output files to \"My Documents\" if creating file failure"));
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.destOutputFolderOpt, kDestSpecificFolder);
    EXPECT_EQ(h.settings.destSpecifiedFolder, "/srv/music out");
    EXPECT_EQ(h.settings.createDirs, 1);
    EXPECT_EQ(h.settings.targetExistsOpt, kTargetSkip);
    EXPECT_EQ(h.settings.outputFiles2MyDocuments, 0);
    EXPECT_EQ(h.settings.browseOutputFolder, 1);
}

TEST_F(OptionsPages, OutputUnknownStoredValuesTakeTheFirstItems) {
    h.settings.destOutputFolderOpt = 5;
    h.settings.targetExistsOpt = 99;
    h.settings.optStartPageIndex = kOutput;
    ASSERT_TRUE(h.Show([](COptSheet& sheet) { sheet.accept(); }));
    EXPECT_EQ(h.settings.destOutputFolderOpt, kDestSameAsSource);
    EXPECT_EQ(h.settings.targetExistsOpt, kTargetRename);
}

// --- ID3 -----------------------------------------------------------------------------------

TEST_F(OptionsPages, GenreListHoldsTheTableSortedAndTakesAnyText) {
    h.tags.genre = "Chillwave";
    h.settings.optStartPageIndex = kId3;
    h.settings.id3TagType = kTagsCustom;
    bool confirmed = h.Show([&](COptSheet& sheet) {
        auto* genre = Control<QComboBox>(sheet.ActivePage(), "Genre:");
        ASSERT_TRUE(genre->isEditable());
        EXPECT_EQ(genre->currentText(), "Chillwave");
        const QStringList items = Items(genre);
        ASSERT_EQ(items.size(), 148);
        const QStringList table = GenreTableNames();
        EXPECT_EQ(QSet<QString>(items.begin(), items.end()),
                  QSet<QString>(table.begin(), table.end()));
        for (qsizetype i = 1; i < items.size(); ++i)
            EXPECT_LE(QString::compare(items[i - 1], items[i], Qt::CaseInsensitive), 0)
                << items[i - 1].toStdString() << " before " << items[i].toStdString();
        for (const char* name : {"Alt. Rock", "Psychadelic", "Bebob", "R&B", "A Cappella"})
            EXPECT_TRUE(items.contains(name)) << name;
        EXPECT_EQ(items.first(), "A Cappella");
        Choose(genre, "Bebob");

        // Typed text stays as typed, even where it begins a name of the list ("Synthpop") or
        // differs from one only in case ("rock").
        sheet.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        for (const char* typed : {"Synth", "Bebo"}) {
            genre->setFocus();
            genre->lineEdit()->selectAll();
            QTest::keyClicks(genre->lineEdit(), typed);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(genre->currentText(), typed);
        }
        // Enter confirms the sheet with the text as it stands.
        genre->setFocus();
        genre->lineEdit()->selectAll();
        QTest::keyClicks(genre->lineEdit(), "rock");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_FALSE(sheet.isVisible());
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.tags.genre, "rock");

    // A name chosen from the list is stored as the list spells it.
    confirmed = h.Show([&](COptSheet& sheet) {
        auto* genre = Control<QComboBox>(sheet.ActivePage(), "Genre:");
        EXPECT_EQ(genre->currentText(), "rock");
        Choose(genre, "Bebob");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.tags.genre, "Bebob");
}

TEST_F(OptionsPages, Id3EnablingAndTheTrackNumberRange) {
    h.settings.id3TagType = 5;  // unknown: shows as "None"
    h.tags.trackNumType = kTrackCustom;
    h.tags.customTrackNum = 300;
    h.tags.titleAsFileName = 1;
    h.tags.artist = "Ann Exämple";
    h.settings.optStartPageIndex = kId3;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        auto* custom = Control<QRadioButton>(page, "Add custom ID3 tag");
        auto* none = Control<QRadioButton>(page, "None", 1);  // the first "None" is the track's
        auto* title = Control<QLineEdit>(page, "Title:");
        auto* artist = Control<QLineEdit>(page, "Artist:");
        auto* fileName = Control<QCheckBox>(page, "Name as file name (not include extension)");
        auto* track = Control<SpinEdit>(page, "Custom");
        EXPECT_TRUE(none->isChecked());
        EXPECT_EQ(artist->text(), "Ann Exämple");
        EXPECT_EQ(track->Text(), "300");
        for (QWidget* w : std::initializer_list<QWidget*>{title, artist, fileName, track})
            EXPECT_FALSE(w->isEnabled());

        // A switched-off custom track does not stop the sheet; switched on, 300 does.
        Click(custom);
        EXPECT_TRUE(artist->isEnabled());
        EXPECT_TRUE(fileName->isEnabled());
        EXPECT_FALSE(title->isEnabled());  // the title is the file name
        EXPECT_TRUE(track->isEnabled());
        Click(fileName);
        EXPECT_TRUE(title->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), title);
        title->setText("Night Train");

        sheet.accept();
        ExpectRefused(sheet, h.prompter, "Please enter an integer between 0 and 255.", kId3, track);
        track->SetText("-1");
        Go(sheet, "General");
        ExpectRefused(sheet, h.prompter, "Please enter an integer between 0 and 255.", kId3, track);
        track->SetText("seven");
        sheet.accept();
        ExpectRefused(sheet, h.prompter, "Please enter an integer.", kId3, track);
        track->SetText("250");
        track->stepBy(10);
        EXPECT_EQ(track->Text(), "255");

        Click(Control<QRadioButton>(page, "Sequence number in list"));
        EXPECT_FALSE(track->isEnabled());
        Click(Control<QRadioButton>(page, "Custom"));
        EXPECT_EQ(sheet.focusWidget(), track);
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.id3TagType, kTagsCustom);
    EXPECT_EQ(h.tags.titleAsFileName, 0);
    EXPECT_EQ(h.tags.title, "Night Train");
    EXPECT_EQ(h.tags.trackNumType, kTrackCustom);
    EXPECT_EQ(h.tags.customTrackNum, 255);
}

// --- AMR, AWB ------------------------------------------------------------------------------

TEST_F(OptionsPages, AmrListsFallBackToTheFifthRateAndFollowTheVariant) {
    h.settings.amrType = 0;
    h.settings.amrMode = 12;    // no such rate
    h.settings.amrwbMode = -1;  // no such rate
    h.settings.awbMode = 9;     // no such rate
    h.settings.awbDtx = 1;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = Go(sheet, "AMR");
        auto* nb = Control<QRadioButton>(page, "NB (Narrow Band, 8000 Hz)");
        auto* wb = Control<QRadioButton>(page, "WB (Wide Band, 16000 Hz)");
        auto* nbRates = Control<QComboBox>(page, "Bit Rate:");
        auto* wbRates = Control<QComboBox>(page, "Bit Rate:", 1);
        EXPECT_EQ(Items(nbRates), (QStringList{"4.75 kbps", "5.15 kbps", "5.9 kbps", "6.7 kbps",
                                               "7.4 kbps", "7.95 kbps", "10.2 kbps", "12.2 kbps"}));
        const QStringList wide{"6.60 kbps",  "8.85 kbps",  "12.65 kbps", "14.25 kbps", "15.85 kbps",
                               "18.25 kbps", "19.85 kbps", "23.05 kbps", "23.85 kbps"};
        EXPECT_EQ(Items(wbRates), wide);
        EXPECT_EQ(nbRates->currentText(), "7.4 kbps");
        EXPECT_EQ(wbRates->currentText(), "15.85 kbps");
        EXPECT_TRUE(nb->isChecked());
        EXPECT_TRUE(nbRates->isEnabled());
        EXPECT_FALSE(wbRates->isEnabled());
        Click(wb);
        EXPECT_FALSE(nbRates->isEnabled());
        EXPECT_TRUE(wbRates->isEnabled());
        Choose(wbRates, "23.85 kbps");
        Click(Control<QCheckBox>(page, "Enable DTX (Discontinuous Transmission)"));

        QWidget* awb = Go(sheet, "AWB");
        auto* awbRates = Control<QComboBox>(awb, "Bit Rate:");
        EXPECT_EQ(Items(awbRates), wide);
        EXPECT_EQ(awbRates->currentText(), "15.85 kbps");
        EXPECT_TRUE(
            Control<QCheckBox>(awb, "Enable DTX (Discontinuous Transmission)")->isChecked());
        bool frequencyShown = false;
        for (QLabel* l : awb->findChildren<QLabel*>())
            frequencyShown |= l->text() == "Sample Frequency: 16000 Hz";
        EXPECT_TRUE(frequencyShown);
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.amrType, 1);
    EXPECT_EQ(h.settings.amrMode, 4);
    EXPECT_EQ(h.settings.amrwbMode, 8);
    EXPECT_EQ(h.settings.amrDtx, 1);
    EXPECT_EQ(h.settings.awbMode, 4);
    EXPECT_EQ(h.settings.awbDtx, 1);
}

// --- Windows Media -------------------------------------------------------------------------

TEST_F(OptionsPages, WindowsMediaWithoutTheRuntimeOffersOnlyAuto) {
    h.wma.loadable = false;
    h.prompter.answer = QMessageBox::Yes;
    h.settings.wmaAutoEncParam = 0;
    h.settings.wmaSampleRate = 32000;
    h.settings.wmaBitRate = 48000;
    h.settings.wmaChannels = 1;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        EXPECT_TRUE(h.prompter.shown.empty());  // asked only when the page is shown
        QWidget* page = Go(sheet, "WMA/WMV/ASF");
        ASSERT_EQ(h.prompter.shown.size(), 1u);
        EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Question);
        EXPECT_EQ(h.prompter.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(h.prompter.shown[0].text,
                  "Dear user, WMA file requires Windows Media Format 9 Series Runtime.\n"
                  "Unfortunately, the component isn't available on your computer.\n\n"
                  "Do you want to download and install it now?");
        EXPECT_EQ(h.desktop.opened, QList<QUrl>{QUrl(kWindowsMediaDownloadUrl)});
        auto* list =
            Control<QListWidget>(page, "Encoding Options: (sample rate, bit rate, channels)");
        ASSERT_EQ(list->count(), 1);
        EXPECT_EQ(list->item(0)->text(), "Auto (the program will choose the best options)");
        EXPECT_TRUE(list->selectedItems().isEmpty());
        Go(sheet, "General");
        Go(sheet, "WMA/WMV/ASF");
        EXPECT_EQ(h.prompter.shown.size(), 1u);  // once per showing of the sheet
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.wma.buildCalls, 0);
    // Nothing to choose from: the manual choice made before stays.
    EXPECT_EQ(h.settings.wmaAutoEncParam, 0);
    EXPECT_EQ(h.settings.wmaSampleRate, 32000);
    EXPECT_EQ(h.settings.wmaBitRate, 48000);
    EXPECT_EQ(h.settings.wmaChannels, 1);
}

TEST_F(OptionsPages, WindowsMediaListsTheRuntimesFormatsAndStoresTheChoice) {
    h.wma.formats = {{8000, 500, 1},
                     {22050, 32040, 1},
                     {44100, 64000, 2},
                     {44100, 128000, 2},
                     {48000, 192000, 2}};
    h.settings.wmaAutoEncParam = 0;
    h.settings.wmaSampleRate = 22050;
    h.settings.wmaBitRate = 32999;  // the same whole kbps as the format's 32040
    h.settings.wmaChannels = 1;
    const QStringList expected{"Auto (the program will choose the best options)",
                               "22050 Hz, 32 kbps, Mono", "44100 Hz, 64 kbps, Stereo",
                               "44100 Hz, 128 kbps, Stereo", "48000 Hz, 192 kbps, Stereo"};
    auto itemsOf = [](QListWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    };
    const QString listName = "Encoding Options: (sample rate, bit rate, channels)";
    bool confirmed = h.Show([&](COptSheet& sheet) {
        auto* list = Control<QListWidget>(Go(sheet, "WMA/WMV/ASF"), listName);
        EXPECT_TRUE(h.prompter.shown.empty());
        EXPECT_EQ(h.wma.loadCalls, 1);
        EXPECT_EQ(h.wma.buildCalls, 1);
        EXPECT_EQ(itemsOf(list), expected);
        ASSERT_EQ(list->selectedItems().size(), 1);
        EXPECT_EQ(list->selectedItems()[0]->text(), "22050 Hz, 32 kbps, Mono");
        list->setCurrentRow(4);
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.wmaAutoEncParam, 0);
    EXPECT_EQ(h.settings.wmaSampleRate, 48000);
    EXPECT_EQ(h.settings.wmaBitRate, 192000);
    EXPECT_EQ(h.settings.wmaChannels, 2);

    // A stored format the runtime does not offer selects nothing; confirming means "Auto",
    // which leaves the other values alone. The loaded runtime's list is used as it is.
    h.settings.wmaSampleRate = 11025;
    confirmed = h.Show([&](COptSheet& sheet) {
        auto* list = Control<QListWidget>(Go(sheet, "WMA/WMV/ASF"), listName);
        EXPECT_EQ(itemsOf(list), expected);
        EXPECT_TRUE(list->selectedItems().isEmpty());
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.wma.loadCalls, 1);
    EXPECT_EQ(h.wma.buildCalls, 1);
    EXPECT_EQ(h.settings.wmaAutoEncParam, 1);
    EXPECT_EQ(h.settings.wmaSampleRate, 11025);
    EXPECT_EQ(h.settings.wmaBitRate, 192000);

    // Automatic choice selects "Auto".
    confirmed = h.Show([&](COptSheet& sheet) {
        auto* list = Control<QListWidget>(Go(sheet, "WMA/WMV/ASF"), listName);
        ASSERT_EQ(list->selectedItems().size(), 1);
        EXPECT_EQ(list->row(list->selectedItems()[0]), 0);
        sheet.accept();
    });
    EXPECT_EQ(h.settings.wmaAutoEncParam, 1);
}

TEST_F(OptionsPages, WindowsMediaPageOverTheRealRuntime) {
    QStringList items;
    auto showPage = [&] {
        items.clear();
        h.Show([&](COptSheet& sheet) {
            auto* l = Control<QListWidget>(Go(sheet, "WMA/WMV/ASF"),
                                           "Encoding Options: (sample rate, bit rate, channels)");
            for (int i = 0; l && i < l->count(); ++i)
                items << l->item(i)->text();
        });
    };
    // First from a folder without the library.
    WindowsMediaSupport none(h.dir.File("no runtime here"));
    RuntimeWmaFormatSource missing(none);
    h.windowsMedia = &missing;
    showPage();
    EXPECT_EQ(items, QStringList{"Auto (the program will choose the best options)"});
    ASSERT_EQ(h.prompter.shown.size(), 1u);
    EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Question);
    h.prompter.shown.clear();
    WindowsMediaSupport layer(KESTRUNE_BIN_DIR);
    RuntimeWmaFormatSource runtime(layer);
    h.windowsMedia = &runtime;
    showPage();
    EXPECT_TRUE(h.prompter.shown.empty());
    ASSERT_FALSE(layer.Formats().empty());
    ASSERT_GT(items.size(), 1);
    EXPECT_EQ(items[0], "Auto (the program will choose the best options)");
    const QRegularExpression shape("^\\d+ Hz, \\d+ kbps, (Mono|Stereo)$");
    for (qsizetype i = 1; i < items.size(); ++i)
        EXPECT_TRUE(shape.match(items[i]).hasMatch()) << items[i].toStdString();
    EXPECT_TRUE(items.contains("44100 Hz, 128 kbps, Stereo"));
}

// --- Audio pages ---------------------------------------------------------------------------

TEST_F(OptionsPages, BitRateLabels) {
    EXPECT_EQ(CPageOptAudio::BitRateLabel(16), "16 bit");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(64000), "64 kbps");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(22050), "22.05 kbps");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(999), "999 bit");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(1000), "1 kbps");
}

TEST_F(OptionsPages, Mp3PageListsAndTheAutoCheck) {
    h.Format(FormatId::kMp3).autoParams = 1;
    h.Format(FormatId::kMp3).sampleRate = 44100;
    h.Format(FormatId::kMp3).bitRate = 128000;
    h.Format(FormatId::kMp3).channels = 2;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = Go(sheet, "MP3");
        auto* codec = Control<QComboBox>(page, "Codec:");
        auto* rate = Control<QComboBox>(page, "Sample Rate:");
        auto* bitRate = Control<QComboBox>(page, "Bit Rate:");
        auto* channels = Control<QComboBox>(page, "Channels:");
        auto* autoCheck =
            Control<QCheckBox>(page, "Auto (the program will choose the best options)");
        EXPECT_EQ(Items(codec), QStringList{"LAME MP3 (MPEG audio layer 3)"});
        EXPECT_EQ(Items(rate),
                  (QStringList{"8000 Hz", "11025 Hz", "12000 Hz", "16000 Hz", "22050 Hz",
                               "24000 Hz", "32000 Hz", "44100 Hz", "48000 Hz",
                               "Auto (the program will choose the best sample rate)"}));
        EXPECT_EQ(rate->currentText(), "44100 Hz");
        const QStringList bitRates = Items(bitRate);
        ASSERT_EQ(bitRates.size(), 19);
        EXPECT_EQ(bitRates.first(), "8 kbps");
        EXPECT_EQ(bitRates[17], "320 kbps");
        EXPECT_EQ(bitRates.last(), "Auto (the program will choose the best bit rate)");
        EXPECT_EQ(bitRate->currentText(), "128 kbps");
        EXPECT_EQ(
            Items(channels),
            (QStringList{"Stereo", "Mono", "Auto (the program will choose the best channels)"}));
        EXPECT_EQ(channels->currentText(), "Stereo");
        EXPECT_TRUE(autoCheck->isChecked());
        for (QComboBox* l : {rate, bitRate, channels})
            EXPECT_FALSE(l->isEnabled());
        EXPECT_TRUE(codec->isEnabled());
        Click(autoCheck);
        for (QComboBox* l : {rate, bitRate, channels})
            EXPECT_TRUE(l->isEnabled());
        Choose(bitRate, "192 kbps");
        Choose(rate, "Auto (the program will choose the best sample rate)");
        Choose(channels, "Mono");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    const OutputFormatEntry& mp3 = h.Format(FormatId::kMp3);
    EXPECT_EQ(mp3.autoParams, 0);
    EXPECT_EQ(mp3.codecId, codec::kMp3);
    EXPECT_EQ(mp3.sampleRate, 0);
    EXPECT_EQ(mp3.bitRate, 192000);
    EXPECT_EQ(mp3.channels, 1);
}

TEST_F(OptionsPages, AnotherCodecRefillsTheListsKeepingWhatCanBeKept) {
    OutputFormatEntry& wav = h.Format(FormatId::kWav);
    wav.autoParams = 0;
    wav.codecId = codec::kPcmS16le;
    wav.sampleRate = 22050;
    wav.bitRate = 128000;
    wav.channels = 2;
    OutputFormatEntry& flv = h.Format(FormatId::kFlv);
    flv.autoParams = 0;
    flv.sampleRate = 22050;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = Go(sheet, "WAV");
        auto* codec = Control<QComboBox>(page, "Codec:");
        auto* rate = Control<QComboBox>(page, "Sample Rate:");
        auto* bitRate = Control<QComboBox>(page, "Bit Rate:");
        auto* channels = Control<QComboBox>(page, "Channels:");
        EXPECT_EQ(codec->currentText(), "PCM 16-bit");
        EXPECT_EQ(Items(codec).size(), 14);
        EXPECT_EQ(bitRate->count(), 0);  // PCM has no bit-rate choice
        EXPECT_FALSE(bitRate->isEnabled());
        Choose(rate, "48000 Hz");
        Choose(codec, "G.726 ADPCM");
        EXPECT_EQ(rate->currentText(), "48000 Hz");  // kept
        EXPECT_EQ(Items(bitRate),
                  (QStringList{"2 bit", "3 bit", "4 bit", "5 bit",
                               "Auto (the program will choose the best bit rate)"}));
        EXPECT_EQ(bitRate->currentText(), "2 bit");  // 128000 is not one of them
        EXPECT_TRUE(bitRate->isEnabled());
        EXPECT_EQ(Items(channels), QStringList{"Mono"});  // mono-only codec
        Choose(bitRate, "4 bit");
        Choose(codec, "LAME MP3 (MPEG audio layer 3)");
        EXPECT_EQ(bitRate->currentText(), "8 kbps");  // 4 is not an MP3 rate
        EXPECT_EQ(channels->currentText(), "Mono");
        Choose(codec, "G.726 ADPCM");
        EXPECT_EQ(bitRate->currentText(), "2 bit");  // the preference is now 8000
        Choose(bitRate, "5 bit");

        // A codec with a single sample rate offers no "Auto" for it.
        QWidget* flvPage = Go(sheet, "FLV");
        auto* flvCodec = Control<QComboBox>(flvPage, "Codec:");
        auto* flvRate = Control<QComboBox>(flvPage, "Sample Rate:");
        EXPECT_EQ(Items(flvCodec), (QStringList{"LAME MP3 (MPEG audio layer 3)",
                                                "AAC (Advanced Audio Codec)", "ADPCM"}));
        EXPECT_EQ(Items(flvRate),
                  (QStringList{"11025 Hz", "22050 Hz", "44100 Hz",
                               "Auto (the program will choose the best sample rate)"}));
        Choose(flvCodec, "AAC (Advanced Audio Codec)");
        EXPECT_EQ(Items(flvRate), QStringList{"44100 Hz"});
        EXPECT_EQ(Items(Control<QComboBox>(flvPage, "Channels:")), QStringList{"Stereo"});
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(wav.codecId, codec::kAdpcmG726);
    EXPECT_EQ(wav.sampleRate, 48000);
    EXPECT_EQ(wav.bitRate, 5);
    EXPECT_EQ(wav.channels, 1);
    EXPECT_EQ(flv.codecId, codec::kAac);
    EXPECT_EQ(flv.sampleRate, 44100);
    EXPECT_EQ(flv.channels, 2);
}

TEST_F(OptionsPages, AudioPageEmptyListsAndAStoredCodecTheRowDoesNotOffer) {
    OutputFormatEntry& aiff = h.Format(FormatId::kAiff);
    aiff.autoParams = 0;
    aiff.bitRate = 128000;  // PCM: no bit-rate list, so confirming gives 0
    OutputFormatEntry& mp2 = h.Format(FormatId::kMp2);
    mp2.codecId = 0x99999;
    mp2.bitRate = 64000;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = Go(sheet, "AIFF");
        EXPECT_EQ(Control<QComboBox>(page, "Codec:")->currentText(), "PCM 16-bit");
        EXPECT_EQ(Control<QComboBox>(page, "Bit Rate:")->count(), 0);
        QWidget* mp2Page = Go(sheet, "MP2");
        EXPECT_EQ(Control<QComboBox>(mp2Page, "Codec:")->currentText(), "MP2 (MPEG audio layer 2)");
        EXPECT_EQ(Control<QComboBox>(mp2Page, "Bit Rate:")->currentText(), "64 kbps");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(aiff.bitRate, 0);
    EXPECT_EQ(aiff.codecId, codec::kPcmS16be);
    EXPECT_EQ(mp2.codecId, codec::kMp2);
    EXPECT_EQ(mp2.bitRate, 64000);
}

// What assistive technology calls each control: a button by its own text, a control with a
// label by the label's text, an edit governed by a check or radio by that one's text. And Tab
// alone reaches every control that is switched on (a radio group through one of its radios).
TEST_F(OptionsPages, EveryControlIsNamedAfterItsTextAndReachedByTab) {
    // Everything a check or radio governs switched on, so that Tab has it all to visit.
    h.settings.enableExtFilter = 1;
    h.settings.filterExts = "mp3";
    h.settings.enableSkipLength = 1;
    h.settings.enableConvertLength = 1;
    h.settings.convertLength = 1000;
    h.settings.volumeType = kVolumeManual;
    h.settings.destOutputFolderOpt = kDestSpecificFolder;
    h.settings.id3TagType = kTagsCustom;
    h.tags.titleAsFileName = 0;
    h.tags.trackNumType = kTrackCustom;
    for (OutputFormatEntry& entry : h.catalogue)
        entry.autoParams = 0;
    h.wma.formats = {{44100, 128000, 2}};
    h.Show([&](COptSheet& sheet) {
        sheet.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        QListWidget* titles = test::Titles(sheet);
        for (int i = 0; i < sheet.PageCount(); ++i) {
            COptPage* page = sheet.Page(i);
            const std::string where = page->Title().toStdString();
            Go(sheet, page->Title());
            ASSERT_EQ(sheet.ActivePageIndex(), i) << where;

            QList<QWidget*> controls;
            for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                if (!qobject_cast<QLabel*>(w) && w->focusPolicy() != Qt::NoFocus)
                    controls << w;
            QStringList buttonNames;
            for (QAbstractButton* b : page->findChildren<QAbstractButton*>())
                buttonNames << StripMnemonic(b->text());
            for (QWidget* w : controls) {
                QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
                ASSERT_NE(a, nullptr) << where;
                const QString name = a->text(QAccessible::Name);
                QLabel* label = nullptr;
                for (QLabel* l : page->findChildren<QLabel*>())
                    if (l->buddy() == w)
                        label = l;
                if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                    EXPECT_EQ(name, StripMnemonic(button->text())) << where;
                } else if (label && qobject_cast<QComboBox*>(w)) {
                    // On this platform a drop-down list's own name is the item it shows; its
                    // label reaches assistive technology as the "labelled by" relation.
                    QStringList labelledBy;
                    for (const auto& [other, relation] : a->relations(QAccessible::Label))
                        labelledBy << other->text(QAccessible::Name);
                    EXPECT_EQ(labelledBy, QStringList{StripMnemonic(label->text())}) << where;
                } else if (label) {
                    EXPECT_EQ(name, StripMnemonic(label->text())) << where;
                } else {
                    EXPECT_TRUE(buttonNames.contains(name))
                        << where << ": " << w->metaObject()->className() << " named \""
                        << name.toStdString() << "\" after no check or radio";
                }
                EXPECT_TRUE(w->focusPolicy() & Qt::TabFocus) << where << ": " << name.toStdString();
            }
            for (QLabel* label : page->findChildren<QLabel*>()) {
                if (label->text().contains('&')) {
                    EXPECT_NE(label->buddy(), nullptr)
                        << where << ": " << label->text().toStdString();
                }
            }

            // Round the Tab chain once, from the page list back to it.
            QSet<QWidget*> reached;
            titles->setFocus();
            for (int step = 0; step < 100; ++step) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                QWidget* f = QApplication::focusWidget();
                if (f == titles)
                    break;
                while (f && f->parentWidget() != page)
                    f = f->parentWidget();
                if (f)
                    reached << f;
            }
            for (QWidget* w : controls) {
                if (!w->isEnabled())
                    continue;
                bool ok = reached.contains(w);
                if (auto* radio = qobject_cast<QRadioButton*>(w); radio && radio->group())
                    for (QAbstractButton* other : radio->group()->buttons())
                        ok |= reached.contains(other);
                EXPECT_TRUE(ok) << where << ": Tab never reaches \""
                                << w->accessibleName().toStdString() << "\"";
            }
        }
    });
}

// A user without a mouse: mnemonics, the spin keys, the page keys and Enter.
TEST_F(OptionsPages, KeyboardOnly) {
    h.settings.optStartPageIndex = kGeneral;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        sheet.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        QWidget* general = sheet.ActivePage();
        auto* skip = Control<SpinEdit>(general, "Skip the first");
        QTest::keyClick(&sheet, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(skip->isEnabled());
        EXPECT_TRUE(Control<QCheckBox>(general, "Skip the first")->isChecked());
        EXPECT_EQ(QApplication::focusWidget(), skip);
        QTest::keyClicks(QApplication::focusWidget(), "2500");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        EXPECT_EQ(skip->Text(), "2600");

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
        EXPECT_EQ(sheet.ActivePage()->Title(), "Output");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
        COptPage* id3 = sheet.ActivePage();
        EXPECT_EQ(id3->Title(), "ID3");
        QTest::keyClick(&sheet, Qt::Key_A, Qt::AltModifier);  // "&Add custom ID3 tag"
        QTRY_VERIFY(Control<QRadioButton>(id3, "Add custom ID3 tag")->isChecked());
        QTest::keyClick(&sheet, Qt::Key_R, Qt::AltModifier);  // the "A&rtist:" label
        auto* artist = Control<QLineEdit>(id3, "Artist:");
        EXPECT_EQ(QApplication::focusWidget(), artist);
        QTest::keyClicks(artist, "Ann");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
        EXPECT_EQ(sheet.ActivePage()->Title(), "Output");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_FALSE(sheet.isVisible());
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.enableSkipLength, 1);
    EXPECT_EQ(h.settings.skipLength, 2600u);
    EXPECT_EQ(h.settings.id3TagType, kTagsCustom);
    EXPECT_EQ(h.tags.artist, "Ann");
    EXPECT_EQ(h.settings.optStartPageIndex, kOutput);
}

}  // namespace
}  // namespace kestrune
