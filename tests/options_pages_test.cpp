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
using namespace Qt::StringLiterals;

constexpr int kGeneral = 0, kOutput = 1, kId3 = 2;

class OptionsPages : public ::testing::Test {
protected:
    test::OptionsHarness h;
};

// --- General -------------------------------------------------------------------------------

TEST_F(OptionsPages, GeneralRefusesEachBadEntryInTurnAndKeepsThePage) {
    h.settings.volumeType = VolumeMode::kManual;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        ASSERT_EQ(sheet.ActivePageIndex(), kGeneral);
        auto* filter = Control<QCheckBox>(page, u"enableExtFilter");
        auto* exts = Control<QLineEdit>(page, u"filterExts");
        auto* convert = Control<QCheckBox>(page, u"enableConvertLength");
        auto* length = Control<SpinEdit>(page, u"convertLength");
        auto* volume = Control<SpinEdit>(page, u"volume");
        auto* skip = Control<SpinEdit>(page, u"skipLength");
        auto* simultaneous = Control<SpinEdit>(page, u"simultaneousConversions");
        // By default as many files at once as the cores this program may use.
        EXPECT_EQ(simultaneous->Text(), QString::number(std::min(UsableCores(), 64)));
        Click(filter);
        Click(convert);
        Click(Control<QCheckBox>(page, u"enableSkipLength"));
        length->SetText(u"0"_s);
        volume->SetText(u"ten"_s);
        skip->SetText(u"soon"_s);

        // Leaving the page and pressing OK meet the same checks, one message at a time: the
        // volume, the lengths, the extensions, the conversion length.
        Go(sheet, u"Output");
        ExpectRefused(sheet, h.prompter, u"Please enter an integer.", kGeneral, volume);
        volume->SetText(u"150"_s);
        sheet.accept();
        ExpectRefused(sheet, h.prompter, u"Please enter a positive integer.", kGeneral, skip);
        skip->SetText(u"0"_s);
        // Spaces only, or separators only, name no extension.
        for (const QString& none : {u"   "_s, u" \t ; ,"_s}) {
            exts->setText(none);
            sheet.accept();
            ExpectRefused(sheet, h.prompter, u"Please enter file extensions you need to filter.",
                          kGeneral, exts);
        }
        exts->setText(u" mp3 "_s);
        Go(sheet, u"ID3");
        ExpectRefused(sheet, h.prompter, u"Conversion length must be greater than 0 millisecond.",
                      kGeneral, length);
        length->SetText(u"1"_s);

        // Lengths are unsigned: a sign or a letter is refused, on whichever length edit.
        for (const QString& bad : {u"-5"_s, u"1e3"_s, QString(), u"4294967296"_s}) {
            skip->SetText(bad);
            sheet.accept();
            ExpectRefused(sheet, h.prompter, u"Please enter a positive integer.", kGeneral, skip);
        }
        skip->SetText(u"4294967295"_s);

        // Files converted at once: a whole number from 1 to 64.
        for (const QString& bad : {u"0"_s, u"65"_s}) {
            simultaneous->SetText(bad);
            sheet.accept();
            ExpectRefused(sheet, h.prompter, u"Please enter an integer between 1 and 64.", kGeneral,
                          simultaneous);
        }
        simultaneous->SetText(u"two"_s);
        sheet.accept();
        ExpectRefused(sheet, h.prompter, u"Please enter an integer.", kGeneral, simultaneous);
        simultaneous->SetText(u"3"_s);
        sheet.accept();
        EXPECT_FALSE(sheet.isVisible());
        EXPECT_TRUE(h.prompter.shown.empty());
    });
    ASSERT_TRUE(confirmed);
    EXPECT_TRUE(h.settings.enableExtFilter);
    EXPECT_EQ(h.settings.filterExts, " mp3 ");  // stored as typed
    EXPECT_EQ(h.settings.filterExtList, std::vector<std::string>{"mp3"});
    EXPECT_EQ(h.settings.convertLength, 1u);
    EXPECT_TRUE(h.settings.enableSkipLength);
    EXPECT_EQ(h.settings.skipLength, 4294967295u);
    EXPECT_EQ(h.settings.volume, 150);
    EXPECT_EQ(h.settings.simultaneousConversions, 3);
}

TEST_F(OptionsPages, GeneralEnablingFollowsChecksAndRadiosAndMovesTheFocus) {
    h.settings.volumeType = static_cast<VolumeMode>(7);  // unknown: shows as "keep original"
    h.settings.monoType = MonoMix::kRight;
    h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        auto* exts = Control<QLineEdit>(page, u"filterExts");
        auto* skip = Control<SpinEdit>(page, u"skipLength");
        auto* convert = Control<SpinEdit>(page, u"convertLength");
        auto* volume = Control<SpinEdit>(page, u"volume");
        EXPECT_TRUE(Control<QRadioButton>(page, u"monoType.right")->isChecked());
        EXPECT_TRUE(Control<QRadioButton>(page, u"volumeType.original")->isChecked());
        for (QWidget* w : std::initializer_list<QWidget*>{exts, skip, convert, volume})
            EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();

        Click(Control<QCheckBox>(page, u"enableExtFilter"));
        EXPECT_TRUE(exts->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), exts);
        Click(Control<QCheckBox>(page, u"enableSkipLength"));
        EXPECT_TRUE(skip->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), skip);
        Click(Control<QRadioButton>(page, u"volumeType.manual"));
        EXPECT_TRUE(volume->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), volume);
        Click(Control<QRadioButton>(page, u"volumeType.normalize"));
        EXPECT_FALSE(volume->isEnabled());
        Click(Control<QCheckBox>(page, u"enableSkipLength"));
        EXPECT_FALSE(skip->isEnabled());

        // The spins step by 10 and 100 within their ranges.
        Click(Control<QRadioButton>(page, u"volumeType.manual"));
        volume->stepBy(1);
        EXPECT_EQ(volume->Text(), u"110");
        volume->SetText(u"32765"_s);
        volume->stepBy(1);
        EXPECT_EQ(volume->Text(), u"32767");
        volume->SetText(u"15"_s);
        volume->stepBy(-1);
        EXPECT_EQ(volume->Text(), u"10");
        // A screen reader's "Toggle" is no click: the edit follows the check all the same.
        QAccessibleInterface* check =
            QAccessible::queryAccessibleInterface(Control<QCheckBox>(page, u"enableConvertLength"));
        ASSERT_TRUE(check && check->actionInterface());
        check->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_TRUE(convert->isEnabled());
        convert->SetText(u"250"_s);
        convert->stepBy(2);
        EXPECT_EQ(convert->Text(), u"450");
        convert->SetText(u"3000000000"_s);  // beyond the spin's range: the spin brings it back
        convert->stepBy(-1);
        EXPECT_EQ(convert->Text(), u"2147483547");

        // "?" explains the channel choice.
        Click(Control<QPushButton>(page, u"channelHelp"));
        ASSERT_EQ(h.prompter.shown.size(), 1u);
        EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Information);
        EXPECT_EQ(h.prompter.shown[0].text, QString::fromUtf8(COptGeneralPage::kChannelHelp));
        EXPECT_TRUE(h.prompter.shown[0].text.startsWith(
            u"In general, the output sound equals to \"(L+R)/2,\" which contains"));
    });
}

TEST_F(OptionsPages, AnEditThatIsSwitchedOffNeverHoldsThePage) {
    h.settings.volume = 80;
    h.settings.skipLength = 500;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        Control<SpinEdit>(page, u"volume")->SetText(u"loud"_s);
        Control<SpinEdit>(page, u"skipLength")->SetText(u"soon"_s);
        Control<SpinEdit>(page, u"convertLength")->SetText(u"7000"_s);
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
    h.settings.destOutputFolderOpt = static_cast<DestOutputFolder>(5);  // matches no item
    h.settings.targetExistsOpt = static_cast<TargetExists>(99);
    h.settings.destSpecifiedFolder = h.dir.File("not here yet");
    h.settings.optStartPageIndex = kOutput;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        ASSERT_EQ(sheet.ActivePageIndex(), kOutput);
        auto* dest = Control<QComboBox>(page, u"destOutputFolderOpt");
        auto* folder = Control<QLineEdit>(page, u"destSpecifiedFolder");
        auto* browse = Control<QPushButton>(page, u"browse");
        auto* open = Control<QPushButton>(page, u"open");
        auto* tree = Control<QCheckBox>(page, u"createDirs");
        auto* exists = Control<QComboBox>(page, u"targetExistsOpt");
        EXPECT_EQ(Items(dest), (QStringList{u"Same as source file"_s, u"Specific folder"_s}));
        EXPECT_EQ(Items(exists),
                  (QStringList{u"Rename automatically (add number at end of file name)"_s,
                               u"Overwrite"_s, u"Skip (not convert)"_s}));
        EXPECT_EQ(dest->currentText(), u"Same as source file");
        EXPECT_EQ(exists->currentIndex(), 0);
        for (QWidget* w : std::initializer_list<QWidget*>{folder, browse, open, tree})
            EXPECT_FALSE(w->isEnabled());
        Choose(dest, u"Specific folder");
        for (QWidget* w : std::initializer_list<QWidget*>{folder, browse, open, tree})
            EXPECT_TRUE(w->isEnabled());

        // "Open" on a folder that is not there yet explains; on one that is, opens it.
        Click(open);
        ASSERT_EQ(h.prompter.shown.size(), 1u);
        EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Warning);
        EXPECT_EQ(h.prompter.TakeLast(),
                  u"The folder \""_s + folder->text() +
                      u"\" doesn't exist yet.\n\nNote: the program will create the folder "
                      u"automatically when converting files."_s);
        EXPECT_TRUE(h.desktop.opened.isEmpty());
        folder->setText(QString::fromStdString(h.dir.path().string()));
        Click(open);
        EXPECT_TRUE(h.prompter.shown.empty());
        ASSERT_EQ(h.desktop.opened.size(), 1);
        EXPECT_EQ(h.desktop.opened[0], QUrl::fromLocalFile(folder->text()));

        // "Browse" starts at the folder typed; what is chosen replaces it, ending in "/".
        h.dialogs.chosenFolder = QString::fromStdString(h.dir.File("chosen"));
        Click(browse);
        EXPECT_EQ(h.dialogs.captions, QStringList{u"Please choose an output folder:"_s});
        EXPECT_EQ(h.dialogs.folders, QStringList{QString::fromStdString(h.dir.path().string())});
        EXPECT_EQ(folder->text(), QString::fromStdString(h.dir.File("chosen/")));
        h.dialogs.chosenFolder.clear();  // cancelled: the text stays
        Click(browse);
        EXPECT_EQ(folder->text(), QString::fromStdString(h.dir.File("chosen/")));

        // An empty specific folder cannot be confirmed.
        folder->clear();
        sheet.accept();
        ExpectRefused(sheet, h.prompter, u"Please choose an output folder.", kOutput, folder);
        Go(sheet, u"General");
        ExpectRefused(sheet, h.prompter, u"Please choose an output folder.", kOutput, folder);
        folder->setText(u"/srv/music out"_s);
        Click(tree);
        Choose(exists, u"Skip (not convert)");
        Click(Control<QCheckBox>(page, u"outputFiles2MyDocuments"));
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.destOutputFolderOpt, DestOutputFolder::kSpecificFolder);
    EXPECT_EQ(h.settings.destSpecifiedFolder, "/srv/music out");
    EXPECT_TRUE(h.settings.createDirs);
    EXPECT_EQ(h.settings.targetExistsOpt, TargetExists::kSkip);
    EXPECT_FALSE(h.settings.outputFiles2MyDocuments);
    EXPECT_TRUE(h.settings.browseOutputFolder);
}

TEST_F(OptionsPages, OutputUnknownStoredValuesTakeTheFirstItems) {
    h.settings.destOutputFolderOpt = static_cast<DestOutputFolder>(5);
    h.settings.targetExistsOpt = static_cast<TargetExists>(99);
    h.settings.optStartPageIndex = kOutput;
    ASSERT_TRUE(h.Show([](COptSheet& sheet) { sheet.accept(); }));
    EXPECT_EQ(h.settings.destOutputFolderOpt, DestOutputFolder::kSameAsSource);
    EXPECT_EQ(h.settings.targetExistsOpt, TargetExists::kRename);
}

// --- ID3 -----------------------------------------------------------------------------------

TEST_F(OptionsPages, GenreListHoldsTheTableSortedAndTakesAnyText) {
    h.tags.genre = "Chillwave";
    h.settings.optStartPageIndex = kId3;
    h.settings.id3TagType = TagSource::kCustom;
    bool confirmed = h.Show([&](COptSheet& sheet) {
        auto* genre = Control<QComboBox>(sheet.ActivePage(), u"genre");
        ASSERT_TRUE(genre->isEditable());
        EXPECT_EQ(genre->currentText(), u"Chillwave");
        const QStringList items = Items(genre);
        ASSERT_EQ(items.size(), 148);
        const QStringList table = GenreTableNames();
        EXPECT_EQ(QSet<QString>(items.begin(), items.end()),
                  QSet<QString>(table.begin(), table.end()));
        for (qsizetype i = 1; i < items.size(); ++i)
            EXPECT_LE(QString::compare(items[i - 1], items[i], Qt::CaseInsensitive), 0)
                << items[i - 1].toStdString() << " before " << items[i].toStdString();
        for (const QString& name :
             {u"Alt. Rock"_s, u"Psychadelic"_s, u"Bebob"_s, u"R&B"_s, u"A Cappella"_s})
            EXPECT_TRUE(items.contains(name)) << name.toStdString();
        EXPECT_EQ(items.first(), u"A Cappella");
        Choose(genre, u"Bebob");

        // Typed text stays as typed, even where it begins a name of the list ("Synthpop") or
        // differs from one only in case ("rock").
        sheet.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        for (const QString& typed : {u"Synth"_s, u"Bebo"_s}) {
            genre->setFocus();
            genre->lineEdit()->selectAll();
            QTest::keyClicks(genre->lineEdit(), typed);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(genre->currentText(), typed);
        }
        // Enter confirms the sheet with the text as it stands.
        genre->setFocus();
        genre->lineEdit()->selectAll();
        QTest::keyClicks(genre->lineEdit(), u"rock"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_FALSE(sheet.isVisible());
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.tags.genre, "rock");

    // A name chosen from the list is stored as the list spells it.
    confirmed = h.Show([&](COptSheet& sheet) {
        auto* genre = Control<QComboBox>(sheet.ActivePage(), u"genre");
        EXPECT_EQ(genre->currentText(), u"rock");
        Choose(genre, u"Bebob");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.tags.genre, "Bebob");
}

TEST_F(OptionsPages, Id3EnablingAndTheTrackNumberRange) {
    h.settings.id3TagType = static_cast<TagSource>(5);  // unknown: shows as "None"
    h.tags.trackNumType = TrackNumMode::kCustom;
    h.tags.customTrackNum = 300;
    h.tags.titleAsFileName = true;
    h.tags.artist = "Ann Exämple";
    h.settings.optStartPageIndex = kId3;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        auto* custom = Control<QRadioButton>(page, u"id3TagType.custom");
        auto* none = Control<QRadioButton>(page, u"id3TagType.none");
        auto* title = Control<QLineEdit>(page, u"title");
        auto* artist = Control<QLineEdit>(page, u"artist");
        auto* fileName = Control<QCheckBox>(page, u"titleAsFileName");
        auto* track = Control<SpinEdit>(page, u"customTrackNum");
        auto* cover = Control<QCheckBox>(page, u"copyCoverArt");
        auto* folderCover = Control<QCheckBox>(page, u"folderCoverArt");
        EXPECT_TRUE(none->isChecked());
        EXPECT_EQ(artist->text(), u"Ann Exämple");
        EXPECT_EQ(track->Text(), u"300");
        EXPECT_TRUE(cover->isChecked());
        EXPECT_FALSE(folderCover->isChecked());
        for (QWidget* w :
             std::initializer_list<QWidget*>{title, artist, fileName, track, cover, folderCover})
            EXPECT_FALSE(w->isEnabled());

        // A switched-off custom track does not stop the sheet; switched on, 300 does.
        Click(custom);
        // The folder's cover stands in for a missing one only while covers are copied.
        EXPECT_TRUE(folderCover->isEnabled());
        Click(cover);
        EXPECT_FALSE(folderCover->isEnabled());
        Click(cover);
        Click(folderCover);
        EXPECT_TRUE(artist->isEnabled());
        EXPECT_TRUE(fileName->isEnabled());
        EXPECT_FALSE(title->isEnabled());  // the title is the file name
        EXPECT_TRUE(track->isEnabled());
        Click(fileName);
        EXPECT_TRUE(title->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), title);
        title->setText(u"Night Train"_s);

        sheet.accept();
        ExpectRefused(sheet, h.prompter, u"Please enter an integer between 0 and 255.", kId3,
                      track);
        track->SetText(u"-1"_s);
        Go(sheet, u"General");
        ExpectRefused(sheet, h.prompter, u"Please enter an integer between 0 and 255.", kId3,
                      track);
        track->SetText(u"seven"_s);
        sheet.accept();
        ExpectRefused(sheet, h.prompter, u"Please enter an integer.", kId3, track);
        track->SetText(u"250"_s);
        track->stepBy(10);
        EXPECT_EQ(track->Text(), u"255");

        Click(Control<QRadioButton>(page, u"trackNumType.runPosition"));
        EXPECT_FALSE(track->isEnabled());
        Click(Control<QRadioButton>(page, u"trackNumType.custom"));
        EXPECT_EQ(sheet.focusWidget(), track);
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.id3TagType, TagSource::kCustom);
    EXPECT_FALSE(h.tags.titleAsFileName);
    EXPECT_EQ(h.tags.title, "Night Train");
    EXPECT_EQ(h.tags.trackNumType, TrackNumMode::kCustom);
    EXPECT_EQ(h.tags.customTrackNum, 255);
    EXPECT_TRUE(h.settings.copyCoverArt);
    EXPECT_TRUE(h.settings.folderCoverArt);
}

// The loudness mode's target on the General page, ReplayGain and true peaks on the ID3 page.
TEST_F(OptionsPages, LoudnessTargetAndReplayGainAreStored) {
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = sheet.ActivePage();
        auto* target = Control<SpinEdit>(page, u"loudnessTarget");
        EXPECT_EQ(target->Text(), u"-18");
        EXPECT_FALSE(target->isEnabled());
        Click(Control<QRadioButton>(page, u"volumeType.loudness"));
        EXPECT_TRUE(target->isEnabled());
        EXPECT_EQ(sheet.focusWidget(), target);
        target->SetText(u"-80"_s);
        sheet.accept();
        ExpectRefused(sheet, h.prompter, u"Please enter an integer between -70 and -5.", kGeneral,
                      target);
        target->SetText(u"-23"_s);

        Go(sheet, u"ID3");
        QWidget* id3 = sheet.ActivePage();
        auto* gains = Control<QComboBox>(id3, u"replayGain");
        EXPECT_EQ(gains->currentText(), u"None");
        Choose(gains, u"Track and album gain (an album is a source folder)");
        Click(Control<QCheckBox>(id3, u"truePeak"));
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.volumeType, VolumeMode::kLoudness);
    EXPECT_EQ(h.settings.loudnessTarget, -23);
    EXPECT_EQ(h.settings.replayGain, ReplayGainMode::kAlbum);
    EXPECT_TRUE(h.settings.truePeak);
}

// --- AMR, AWB ------------------------------------------------------------------------------

TEST_F(OptionsPages, AmrListsFallBackToTheFifthRateAndFollowTheVariant) {
    h.settings.amrType = AmrBand::kNarrow;
    h.settings.amrMode = 12;    // no such rate
    h.settings.amrwbMode = -1;  // no such rate
    h.settings.awbMode = 9;     // no such rate
    h.settings.awbDtx = true;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = Go(sheet, u"AMR");
        auto* nb = Control<QRadioButton>(page, u"amrType.narrowBand");
        auto* wb = Control<QRadioButton>(page, u"amrType.wideBand");
        auto* nbRates = Control<QComboBox>(page, u"amrMode");
        auto* wbRates = Control<QComboBox>(page, u"amrwbMode");
        EXPECT_EQ(Items(nbRates),
                  (QStringList{u"4.75 kbps"_s, u"5.15 kbps"_s, u"5.9 kbps"_s, u"6.7 kbps"_s,
                               u"7.4 kbps"_s, u"7.95 kbps"_s, u"10.2 kbps"_s, u"12.2 kbps"_s}));
        const QStringList wide{u"6.60 kbps"_s,  u"8.85 kbps"_s,  u"12.65 kbps"_s,
                               u"14.25 kbps"_s, u"15.85 kbps"_s, u"18.25 kbps"_s,
                               u"19.85 kbps"_s, u"23.05 kbps"_s, u"23.85 kbps"_s};
        EXPECT_EQ(Items(wbRates), wide);
        EXPECT_EQ(nbRates->currentText(), u"7.4 kbps");
        EXPECT_EQ(wbRates->currentText(), u"15.85 kbps");
        EXPECT_TRUE(nb->isChecked());
        EXPECT_TRUE(nbRates->isEnabled());
        EXPECT_FALSE(wbRates->isEnabled());
        Click(wb);
        EXPECT_FALSE(nbRates->isEnabled());
        EXPECT_TRUE(wbRates->isEnabled());
        Choose(wbRates, u"23.85 kbps");
        Click(Control<QCheckBox>(page, u"amrDtx"));

        QWidget* awb = Go(sheet, u"AWB");
        auto* awbRates = Control<QComboBox>(awb, u"awbMode");
        EXPECT_EQ(Items(awbRates), wide);
        EXPECT_EQ(awbRates->currentText(), u"15.85 kbps");
        EXPECT_TRUE(Control<QCheckBox>(awb, u"awbDtx")->isChecked());
        bool frequencyShown = false;
        for (QLabel* l : awb->findChildren<QLabel*>())
            frequencyShown |= l->text() == u"Sample Frequency: 16000 Hz";
        EXPECT_TRUE(frequencyShown);
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.amrType, AmrBand::kWide);
    EXPECT_EQ(h.settings.amrMode, 4);
    EXPECT_EQ(h.settings.amrwbMode, 8);
    EXPECT_TRUE(h.settings.amrDtx);
    EXPECT_EQ(h.settings.awbMode, 4);
    EXPECT_TRUE(h.settings.awbDtx);
}

// --- Windows Media -------------------------------------------------------------------------

TEST_F(OptionsPages, WindowsMediaWithoutTheRuntimeOffersOnlyAuto) {
    h.wma.loadable = false;
    h.prompter.answer = QMessageBox::Yes;
    h.settings.wmaAutoEncParam = false;
    h.settings.wmaSampleRate = 32000;
    h.settings.wmaBitRate = 48000;
    h.settings.wmaChannels = 1;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        EXPECT_TRUE(h.prompter.shown.empty());  // asked only when the page is shown
        QWidget* page = Go(sheet, u"WMA/WMV/ASF");
        ASSERT_EQ(h.prompter.shown.size(), 1u);
        EXPECT_EQ(h.prompter.shown[0].icon, Prompter::Icon::Question);
        EXPECT_EQ(h.prompter.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(h.prompter.shown[0].text,
                  u"Dear user, WMA file requires Windows Media Format 9 Series Runtime.\n"
                  u"Unfortunately, the component isn't available on your computer.\n\n"
                  u"Do you want to download and install it now?");
        EXPECT_EQ(h.desktop.opened,
                  QList<QUrl>{QUrl(QString::fromLatin1(kWindowsMediaDownloadUrl))});
        auto* list = Control<QListWidget>(page, u"wmaFormats");
        ASSERT_EQ(list->count(), 1);
        EXPECT_EQ(list->item(0)->text(), u"Auto (the program will choose the best options)");
        EXPECT_TRUE(list->selectedItems().isEmpty());
        Go(sheet, u"General");
        Go(sheet, u"WMA/WMV/ASF");
        EXPECT_EQ(h.prompter.shown.size(), 1u);  // once per showing of the sheet
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.wma.buildCalls, 0);
    // Nothing to choose from: the manual choice made before stays.
    EXPECT_FALSE(h.settings.wmaAutoEncParam);
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
    h.settings.wmaAutoEncParam = false;
    h.settings.wmaSampleRate = 22050;
    h.settings.wmaBitRate = 32999;  // the same whole kbps as the format's 32040
    h.settings.wmaChannels = 1;
    const QStringList expected{u"Auto (the program will choose the best options)"_s,
                               u"22050 Hz, 32 kbps, Mono"_s, u"44100 Hz, 64 kbps, Stereo"_s,
                               u"44100 Hz, 128 kbps, Stereo"_s, u"48000 Hz, 192 kbps, Stereo"_s};
    auto itemsOf = [](QListWidget* list) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        return texts;
    };
    bool confirmed = h.Show([&](COptSheet& sheet) {
        auto* list = Control<QListWidget>(Go(sheet, u"WMA/WMV/ASF"), u"wmaFormats");
        EXPECT_TRUE(h.prompter.shown.empty());
        EXPECT_EQ(h.wma.loadCalls, 1);
        EXPECT_EQ(h.wma.buildCalls, 1);
        EXPECT_EQ(itemsOf(list), expected);
        ASSERT_EQ(list->selectedItems().size(), 1);
        EXPECT_EQ(list->selectedItems()[0]->text(), u"22050 Hz, 32 kbps, Mono");
        list->setCurrentRow(4);
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_FALSE(h.settings.wmaAutoEncParam);
    EXPECT_EQ(h.settings.wmaSampleRate, 48000);
    EXPECT_EQ(h.settings.wmaBitRate, 192000);
    EXPECT_EQ(h.settings.wmaChannels, 2);

    // A stored format the runtime does not offer selects nothing; confirming means "Auto",
    // which leaves the other values alone. The loaded runtime's list is used as it is.
    h.settings.wmaSampleRate = 11025;
    confirmed = h.Show([&](COptSheet& sheet) {
        auto* list = Control<QListWidget>(Go(sheet, u"WMA/WMV/ASF"), u"wmaFormats");
        EXPECT_EQ(itemsOf(list), expected);
        EXPECT_TRUE(list->selectedItems().isEmpty());
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.wma.loadCalls, 1);
    EXPECT_EQ(h.wma.buildCalls, 1);
    EXPECT_TRUE(h.settings.wmaAutoEncParam);
    EXPECT_EQ(h.settings.wmaSampleRate, 11025);
    EXPECT_EQ(h.settings.wmaBitRate, 192000);

    // Automatic choice selects "Auto".
    confirmed = h.Show([&](COptSheet& sheet) {
        auto* list = Control<QListWidget>(Go(sheet, u"WMA/WMV/ASF"), u"wmaFormats");
        ASSERT_EQ(list->selectedItems().size(), 1);
        EXPECT_EQ(list->row(list->selectedItems()[0]), 0);
        sheet.accept();
    });
    EXPECT_TRUE(h.settings.wmaAutoEncParam);
}

TEST_F(OptionsPages, WindowsMediaPageOverTheRealRuntime) {
    QStringList items;
    auto showPage = [&] {
        items.clear();
        h.Show([&](COptSheet& sheet) {
            auto* l = Control<QListWidget>(Go(sheet, u"WMA/WMV/ASF"), u"wmaFormats");
            for (int i = 0; l && i < l->count(); ++i)
                items << l->item(i)->text();
        });
    };
    // First from a folder without the library.
    WindowsMediaSupport none(h.dir.File("no runtime here"));
    RuntimeWmaFormatSource missing(none);
    h.windowsMedia = &missing;
    showPage();
    EXPECT_EQ(items, QStringList{u"Auto (the program will choose the best options)"_s});
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
    EXPECT_EQ(items[0], u"Auto (the program will choose the best options)");
    const QRegularExpression shape(u"^\\d+ Hz, \\d+ kbps, (Mono|Stereo)$"_s);
    for (qsizetype i = 1; i < items.size(); ++i)
        EXPECT_TRUE(shape.match(items[i]).hasMatch()) << items[i].toStdString();
    EXPECT_TRUE(items.contains(u"44100 Hz, 128 kbps, Stereo"_s));
}

// --- Audio pages ---------------------------------------------------------------------------

TEST_F(OptionsPages, BitRateLabels) {
    EXPECT_EQ(CPageOptAudio::BitRateLabel(16), u"16 bit");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(64000), u"64 kbps");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(22050), u"22.05 kbps");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(999), u"999 bit");
    EXPECT_EQ(CPageOptAudio::BitRateLabel(1000), u"1 kbps");
}

TEST_F(OptionsPages, Mp3PageListsAndTheAutoCheck) {
    h.Format(FormatId::kMp3).autoParams = 1;
    h.Format(FormatId::kMp3).sampleRate = 44100;
    h.Format(FormatId::kMp3).bitRate = 128000;
    h.Format(FormatId::kMp3).channels = 2;
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* page = Go(sheet, u"MP3");
        auto* codec = Control<QComboBox>(page, u"codecId");
        auto* rate = Control<QComboBox>(page, u"sampleRate");
        auto* bitRate = Control<QComboBox>(page, u"bitRate");
        auto* channels = Control<QComboBox>(page, u"channels");
        auto* autoCheck = Control<QCheckBox>(page, u"autoParams");
        EXPECT_EQ(Items(codec), QStringList{u"LAME MP3 (MPEG audio layer 3)"_s});
        EXPECT_EQ(
            Items(rate),
            (QStringList{u"8000 Hz"_s, u"11025 Hz"_s, u"12000 Hz"_s, u"16000 Hz"_s, u"22050 Hz"_s,
                         u"24000 Hz"_s, u"32000 Hz"_s, u"44100 Hz"_s, u"48000 Hz"_s,
                         u"Auto (the program will choose the best sample rate)"_s}));
        EXPECT_EQ(rate->currentText(), u"44100 Hz");
        const QStringList bitRates = Items(bitRate);
        ASSERT_EQ(bitRates.size(), 19);
        EXPECT_EQ(bitRates.first(), u"8 kbps");
        EXPECT_EQ(bitRates[17], u"320 kbps");
        EXPECT_EQ(bitRates.last(), u"Auto (the program will choose the best bit rate)");
        EXPECT_EQ(bitRate->currentText(), u"128 kbps");
        EXPECT_EQ(Items(channels),
                  (QStringList{u"Stereo"_s, u"Mono"_s,
                               u"Auto (the program will choose the best channels)"_s}));
        EXPECT_EQ(channels->currentText(), u"Stereo");
        EXPECT_TRUE(autoCheck->isChecked());
        for (QComboBox* l : {rate, bitRate, channels})
            EXPECT_FALSE(l->isEnabled());
        EXPECT_TRUE(codec->isEnabled());
        Click(autoCheck);
        for (QComboBox* l : {rate, bitRate, channels})
            EXPECT_TRUE(l->isEnabled());
        Choose(bitRate, u"192 kbps");
        Choose(rate, u"Auto (the program will choose the best sample rate)");
        Choose(channels, u"Mono");
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
        QWidget* page = Go(sheet, u"WAV");
        auto* codec = Control<QComboBox>(page, u"codecId");
        auto* rate = Control<QComboBox>(page, u"sampleRate");
        auto* bitRate = Control<QComboBox>(page, u"bitRate");
        auto* channels = Control<QComboBox>(page, u"channels");
        EXPECT_EQ(codec->currentText(), u"PCM 16-bit");
        EXPECT_EQ(Items(codec).size(), 14);
        EXPECT_EQ(bitRate->count(), 0);  // PCM has no bit-rate choice
        EXPECT_FALSE(bitRate->isEnabled());
        Choose(rate, u"48000 Hz");
        Choose(codec, u"G.726 ADPCM");
        EXPECT_EQ(rate->currentText(), u"48000 Hz");  // kept
        EXPECT_EQ(Items(bitRate),
                  (QStringList{u"2 bit"_s, u"3 bit"_s, u"4 bit"_s, u"5 bit"_s,
                               u"Auto (the program will choose the best bit rate)"_s}));
        EXPECT_EQ(bitRate->currentText(), u"2 bit");  // 128000 is not one of them
        EXPECT_TRUE(bitRate->isEnabled());
        EXPECT_EQ(Items(channels), QStringList{u"Mono"_s});  // mono-only codec
        Choose(bitRate, u"4 bit");
        Choose(codec, u"LAME MP3 (MPEG audio layer 3)");
        EXPECT_EQ(bitRate->currentText(), u"8 kbps");  // 4 is not an MP3 rate
        EXPECT_EQ(channels->currentText(), u"Mono");
        Choose(codec, u"G.726 ADPCM");
        EXPECT_EQ(bitRate->currentText(), u"2 bit");  // the preference is now 8000
        Choose(bitRate, u"5 bit");

        // A codec with a single sample rate offers no "Auto" for it.
        QWidget* flvPage = Go(sheet, u"FLV");
        auto* flvCodec = Control<QComboBox>(flvPage, u"codecId");
        auto* flvRate = Control<QComboBox>(flvPage, u"sampleRate");
        EXPECT_EQ(Items(flvCodec), (QStringList{u"LAME MP3 (MPEG audio layer 3)"_s,
                                                u"AAC (Advanced Audio Codec)"_s, u"ADPCM"_s}));
        EXPECT_EQ(Items(flvRate),
                  (QStringList{u"11025 Hz"_s, u"22050 Hz"_s, u"44100 Hz"_s,
                               u"Auto (the program will choose the best sample rate)"_s}));
        Choose(flvCodec, u"AAC (Advanced Audio Codec)");
        EXPECT_EQ(Items(flvRate), QStringList{u"44100 Hz"_s});
        EXPECT_EQ(Items(Control<QComboBox>(flvPage, u"channels")), QStringList{u"Stereo"_s});
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
        QWidget* page = Go(sheet, u"AIFF");
        EXPECT_EQ(Control<QComboBox>(page, u"codecId")->currentText(), u"PCM 16-bit");
        EXPECT_EQ(Control<QComboBox>(page, u"bitRate")->count(), 0);
        QWidget* mp2Page = Go(sheet, u"MP2");
        EXPECT_EQ(Control<QComboBox>(mp2Page, u"codecId")->currentText(),
                  u"MP2 (MPEG audio layer 2)");
        EXPECT_EQ(Control<QComboBox>(mp2Page, u"bitRate")->currentText(), u"64 kbps");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(aiff.bitRate, 0);
    EXPECT_EQ(aiff.codecId, codec::kPcmS16be);
    EXPECT_EQ(mp2.codecId, codec::kMp2);
    EXPECT_EQ(mp2.bitRate, 64000);
}

// What assistive technology calls each control: a button by its own text, a control with a
// label by the label's text, an edit governed by a check or radio by that one's text. Each has
// an object name too. And Tab alone reaches every control that is switched on (a radio group
// through one of its radios).
TEST_F(OptionsPages, EveryControlIsNamedAfterItsTextAndReachedByTab) {
    // Everything a check or radio governs switched on, so that Tab has it all to visit.
    h.settings.enableExtFilter = true;
    h.settings.filterExts = "mp3";
    h.settings.enableSkipLength = true;
    h.settings.enableConvertLength = true;
    h.settings.convertLength = 1000;
    h.settings.volumeType = VolumeMode::kManual;
    h.settings.destOutputFolderOpt = DestOutputFolder::kSpecificFolder;
    h.settings.id3TagType = TagSource::kCustom;
    h.tags.titleAsFileName = false;
    h.tags.trackNumType = TrackNumMode::kCustom;
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
                EXPECT_FALSE(w->objectName().isEmpty()) << where << ": " << name.toStdString();
            }
            for (QLabel* label : page->findChildren<QLabel*>()) {
                if (label->text().contains(u'&')) {
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
        auto* skip = Control<SpinEdit>(general, u"skipLength");
        QTest::keyClick(&sheet, Qt::Key_S, Qt::AltModifier);
        QTRY_VERIFY(skip->isEnabled());
        EXPECT_TRUE(Control<QCheckBox>(general, u"enableSkipLength")->isChecked());
        EXPECT_EQ(QApplication::focusWidget(), skip);
        QTest::keyClicks(QApplication::focusWidget(), u"2500"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        EXPECT_EQ(skip->Text(), u"2600");

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
        EXPECT_EQ(sheet.ActivePage()->Title(), u"Output");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown, Qt::ControlModifier);
        COptPage* id3 = sheet.ActivePage();
        EXPECT_EQ(id3->Title(), u"ID3");
        QTest::keyClick(&sheet, Qt::Key_A, Qt::AltModifier);  // "&Add custom ID3 tag"
        QTRY_VERIFY(Control<QRadioButton>(id3, u"id3TagType.custom")->isChecked());
        QTest::keyClick(&sheet, Qt::Key_R, Qt::AltModifier);  // the "A&rtist:" label
        auto* artist = Control<QLineEdit>(id3, u"artist");
        EXPECT_EQ(QApplication::focusWidget(), artist);
        QTest::keyClicks(artist, u"Ann"_s);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageUp, Qt::ControlModifier);
        EXPECT_EQ(sheet.ActivePage()->Title(), u"Output");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        EXPECT_FALSE(sheet.isVisible());
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.enableSkipLength, 1);
    EXPECT_EQ(h.settings.skipLength, 2600u);
    EXPECT_EQ(h.settings.id3TagType, TagSource::kCustom);
    EXPECT_EQ(h.tags.artist, "Ann");
    EXPECT_EQ(h.settings.optStartPageIndex, kOutput);
}

}  // namespace
}  // namespace kestrune
