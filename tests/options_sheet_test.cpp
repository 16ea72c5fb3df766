// The Options sheet as a whole: its pages, where it opens, what confirming saves and what
// cancelling leaves alone; and a conversion made with what the sheet stored.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <filesystem>

#include "engine/conversion_session.h"
#include "engine/run_scheduler.h"
#include "settings/options/page_opt_audio.h"
#include "tests/support/decoding_layer.h"
#include "tests/support/looks.h"
#include "tests/support/options_harness.h"
#include "tests/support/recording_host.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Choose;
using test::Click;
using test::Control;
using test::Go;
using namespace Qt::StringLiterals;

class OptionsSheet : public ::testing::Test {
protected:
    test::OptionsHarness h;
};

TEST_F(OptionsSheet, PagesInCatalogueOrderAndTheStartPageHoweverItCloses) {
    // The three fixed pages, then one per format in catalogue order: AMR, AWB and the Windows
    // Media rows have pages of their own (one for the three Windows Media rows).
    QStringList expected{u"General"_s, u"Output"_s, u"ID3"_s};
    for (const OutputFormatEntry& row : h.catalogue) {
        if (row.formatId == FormatId::kWma)
            expected << u"WMA/WMV/ASF"_s;
        else if (!IsWindowsMediaFormat(row.formatId))
            expected << QString::fromStdString(row.PageTitle());
    }
    ASSERT_TRUE(expected.contains(u"AMR"_s) && expected.contains(u"AWB"_s));
    ASSERT_TRUE(expected.contains(u"Opus"_s));
    bool confirmed = h.Show([&](COptSheet& sheet) {
        EXPECT_EQ(sheet.windowTitle(), u"Options");
        EXPECT_EQ(test::TitleTexts(sheet), expected);
        EXPECT_EQ(sheet.ActivePageIndex(), 0);
        // Neither "Apply" nor "Help".
        QStringList buttons;
        for (QPushButton* b : sheet.findChildren<QPushButton*>())
            if (b->parentWidget() != nullptr && !qobject_cast<COptPage*>(b->parentWidget()))
                buttons << StripMnemonic(b->text());
        buttons.sort();
        EXPECT_EQ(buttons, (QStringList{u"Cancel"_s, u"OK"_s}));
        Go(sheet, u"AC3");
        Go(sheet, u"3GP");  // the fifth page
        EXPECT_EQ(sheet.ActivePageIndex(), 4);
        sheet.reject();
    });
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(h.settings.optStartPageIndex, 4);

    // The next sheet opens there; closed with OK on another page, that one is kept.
    confirmed = h.Show([&](COptSheet& sheet) {
        EXPECT_EQ(sheet.ActivePageIndex(), 4);
        EXPECT_EQ(test::Titles(sheet)->currentRow(), 4);
        EXPECT_EQ(sheet.ActivePage()->Title(), u"3GP");
        EXPECT_TRUE(sheet.ActivePage()->isVisible());
        Go(sheet, u"WAV");
        sheet.accept();
    });
    EXPECT_TRUE(confirmed);
    // The position WAV's page had before Opus came before it: what earlier versions stored.
    EXPECT_EQ(h.settings.optStartPageIndex, 29);

    // Closing the window itself counts as cancelling.
    h.Show([&](COptSheet& sheet) {
        EXPECT_EQ(sheet.ActivePage()->Title(), u"WAV");
        Go(sheet, u"MKA");
        sheet.close();
    });
    EXPECT_EQ(h.settings.optStartPageIndex, 19);

    // A page added since is kept by its format's id, and opens again.
    h.Show([&](COptSheet& sheet) { Go(sheet, u"Opus"); });
    EXPECT_EQ(h.settings.optStartPageIndex, StoredValue(FormatId::kOpus));
    h.Show([&](COptSheet& sheet) { EXPECT_EQ(sheet.ActivePage()->Title(), u"Opus"); });

    // A value that names no page opens the first page.
    for (int stored : {31, 999, -3, 4242}) {
        h.settings.optStartPageIndex = stored;
        h.Show([&](COptSheet& sheet) { EXPECT_EQ(sheet.ActivePageIndex(), 0) << stored; });
        EXPECT_EQ(h.settings.optStartPageIndex, 0);
    }
}

TEST_F(OptionsSheet, CancelChangesNothingInMemoryOrInTheStore) {
    h.settings.filterExts = "flac";
    h.tags.artist = "Someone";
    ASSERT_TRUE(
        SaveSettings(*h.store, kSaveOptions | kSaveFormatAndPage, h.settings, h.tags, h.catalogue));
    h.store->Sync();
    const std::string before = test::ReadFile(h.iniPath);
    ASSERT_FALSE(before.empty());
    const ConvertSettings settings = h.settings;
    const TagOptions tags = h.tags;
    const OutputCatalogue catalogue = h.catalogue;
    h.wma.formats = {{44100, 128000, 2}};

    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* general = sheet.ActivePage();
        Click(Control<QCheckBox>(general, u"doNotLoadHiddenFiles"));
        Control<QLineEdit>(general, u"filterExts")->setText(u"wav"_s);
        QWidget* output = Go(sheet, u"Output");
        Choose(Control<QComboBox>(output, u"targetExistsOpt"), u"Overwrite");
        QWidget* id3 = Go(sheet, u"ID3");
        Click(Control<QRadioButton>(id3, u"id3TagType.custom"));
        Control<QLineEdit>(id3, u"artist")->setText(u"Nobody"_s);
        Click(Control<QRadioButton>(Go(sheet, u"AMR"), u"amrType.wideBand"));
        Control<QListWidget>(Go(sheet, u"WMA/WMV/ASF"), u"wmaFormats")->setCurrentRow(1);
        QWidget* mp3 = Go(sheet, u"MP3");
        Click(Control<QCheckBox>(mp3, u"autoParams"));
        Choose(Control<QComboBox>(mp3, u"bitRate"), u"320 kbps");
        sheet.reject();
    });
    EXPECT_FALSE(confirmed);
    ConvertSettings after = h.settings;
    after.optStartPageIndex = settings.optStartPageIndex;
    EXPECT_TRUE(after == settings);
    EXPECT_TRUE(h.tags == tags);
    for (size_t i = 0; i < catalogue.size(); ++i) {
        EXPECT_EQ(h.catalogue[i].autoParams, catalogue[i].autoParams);
        EXPECT_EQ(h.catalogue[i].bitRate, catalogue[i].bitRate);
        EXPECT_EQ(h.catalogue[i].codecId, catalogue[i].codecId);
    }
    h.store->Sync();
    EXPECT_EQ(test::ReadFile(h.iniPath), before);
}

TEST_F(OptionsSheet, ConfirmedChangesOnEveryKindOfPageAreSaved) {
    h.wma.formats = {{32000, 48000, 1}, {44100, 96000, 2}};
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* general = sheet.ActivePage();
        Click(Control<QCheckBox>(general, u"enableExtFilter"));
        Control<QLineEdit>(general, u"filterExts")->setText(u"MP3; wav,,OGG "_s);
        Click(Control<QRadioButton>(general, u"monoType.left"));
        Click(Control<QCheckBox>(general, u"enableSkipLength"));
        Control<SpinEdit>(general, u"skipLength")->SetText(u"1500"_s);

        QWidget* output = Go(sheet, u"Output");
        Choose(Control<QComboBox>(output, u"destOutputFolderOpt"), u"Specific folder");
        h.dialogs.chosenFolder = QString::fromStdString(h.dir.File("out"));
        Click(Control<QPushButton>(output, u"browse"));
        Click(Control<QCheckBox>(output, u"browseOutputFolder"));

        QWidget* id3 = Go(sheet, u"ID3");
        Click(Control<QRadioButton>(id3, u"id3TagType.custom"));
        Control<QLineEdit>(id3, u"composer")->setText(u"B. Composer"_s);
        Control<QComboBox>(id3, u"genre")->setEditText(u"Bebob"_s);

        QWidget* amr = Go(sheet, u"AMR");
        Click(Control<QRadioButton>(amr, u"amrType.wideBand"));
        Choose(Control<QComboBox>(amr, u"amrwbMode"), u"12.65 kbps");
        Click(Control<QCheckBox>(amr, u"amrDtx"));
        Choose(Control<QComboBox>(Go(sheet, u"AWB"), u"awbMode"), u"6.60 kbps");
        Control<QListWidget>(Go(sheet, u"WMA/WMV/ASF"), u"wmaFormats")->setCurrentRow(1);
        QWidget* ogg = Go(sheet, u"OGG");
        Choose(Control<QComboBox>(ogg, u"codecId"), u"FLAC (Free Lossless Audio Codec)");
        Click(Control<QCheckBox>(ogg, u"autoParams"));
        Choose(Control<QComboBox>(ogg, u"sampleRate"), u"96000 Hz");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);

    // What the program reads at its next start.
    h.Reload();
    EXPECT_TRUE(h.settings.enableExtFilter);
    EXPECT_EQ(h.settings.filterExts, "MP3; wav,,OGG ");
    EXPECT_EQ(h.settings.filterExtList, (std::vector<std::string>{"mp3", "wav", "ogg"}));
    EXPECT_EQ(h.settings.monoType, MonoMix::kLeft);
    EXPECT_TRUE(h.settings.enableSkipLength);
    EXPECT_EQ(h.settings.skipLength, 1500u);
    EXPECT_EQ(h.settings.destOutputFolderOpt, DestOutputFolder::kSpecificFolder);
    EXPECT_EQ(h.settings.destSpecifiedFolder, h.dir.File("out/"));
    EXPECT_FALSE(h.settings.browseOutputFolder);
    EXPECT_EQ(h.settings.id3TagType, TagSource::kCustom);
    EXPECT_EQ(h.tags.composer, "B. Composer");
    EXPECT_EQ(h.tags.genre, "Bebob");
    EXPECT_EQ(h.settings.amrType, AmrBand::kWide);
    EXPECT_EQ(h.settings.amrwbMode, 2);
    EXPECT_TRUE(h.settings.amrDtx);
    EXPECT_EQ(h.settings.awbMode, 0);
    EXPECT_FALSE(h.settings.wmaAutoEncParam);
    EXPECT_EQ(h.settings.wmaSampleRate, 32000);
    EXPECT_EQ(h.settings.wmaBitRate, 48000);
    EXPECT_EQ(h.settings.wmaChannels, 1);
    const OutputFormatEntry& ogg = h.Format(FormatId::kOgg);
    EXPECT_EQ(ogg.codecId, codec::kFlac);
    EXPECT_EQ(ogg.autoParams, 0);
    EXPECT_EQ(ogg.sampleRate, 96000);
    // Pages never shown hand back what they were given.
    OutputCatalogue defaults;
    BuildOutputCatalogue(defaults);
    EXPECT_EQ(h.Format(FormatId::k3g2).codecId,
              FindOutputFormat(defaults, FormatId::k3g2)->codecId);
    EXPECT_EQ(h.Format(FormatId::k3g2).bitRate, 10200);
    EXPECT_EQ(h.settings.amrMode, 6);  // the other variant's rate, untouched
    // The start page is not part of these options: it is saved with the format at shutdown.
    EXPECT_EQ(test::ReadFile(h.iniPath).find("OptStartPageIndex"), std::string::npos);
}

// Open the sheet, choose the MP3 bit rate and an output folder, confirm, convert: the output
// is in that folder at that bit rate.
TEST_F(OptionsSheet, ConversionUsesWhatTheSheetStored) {
    const std::string source = h.dir.File("tone.wav");
    ASSERT_TRUE(test::WriteWav(source, test::MakeSignal(44100, 2, 44100 * 2)));
    const QString outFolder = QString::fromStdString(h.dir.File("chosen out"));
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* output = Go(sheet, u"Output");
        Choose(Control<QComboBox>(output, u"destOutputFolderOpt"), u"Specific folder");
        Control<QLineEdit>(output, u"destSpecifiedFolder")->setText(outFolder);
        QWidget* mp3 = Go(sheet, u"MP3");
        Click(Control<QCheckBox>(mp3, u"autoParams"));
        Choose(Control<QComboBox>(mp3, u"bitRate"), u"96 kbps");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    h.Reload();

    test::RecordingHost host;
    test::RecordingRun run(host);
    SessionConfig config;
    config.settings = h.settings;
    config.settings.id3TagType = TagSource::kNone;
    config.tagOptions = h.tags;
    config.catalogue = h.catalogue;
    ConversionSession session(config, run);
    RunRequest request;
    request.items.emplace_back();
    ASSERT_TRUE(session.ProbeSource(source, request.items[0]).opened);
    request.format = *FindOutputFormat(config.catalogue, FormatId::kMp3);
    run.Present({{0, FileNameOf(source)}}, "MP3");
    RunConversion(config, request, run);

    const std::string out = (fs::path(outFolder.toStdString()) / "tone.mp3").string();
    ASSERT_TRUE(fs::exists(out)) << host.output[0];
    std::string bitRate;
    ASSERT_EQ(test::Run("ffprobe -v error -select_streams a:0 -show_entries stream=bit_rate "
                        "-of default=nw=1:nk=1 " +
                            test::Quote(out),
                        &bitRate),
              0);
    EXPECT_EQ(std::stoi(bitRate), 96000);
}

// A row added to the catalogue (here a scratch FLAC row) needs nothing else: it gets its page,
// its settings under its own prefix, a start page that finds it again, and outputs.
TEST_F(OptionsSheet, ARowAddedToTheCatalogueNeedsNothingElse) {
    const auto addScratchRow = [](OutputCatalogue& catalogue) {
        OutputFormatEntry row = *FindOutputFormat(catalogue, FormatId::kFlac);
        row.formatId = FormatId{9100};
        row.label = "Scratch (test)";
        row.shortLabel = "Scratch";
        row.settingsPrefix = "Scratch";
        row.extension = "sfl";
        catalogue.push_back(row);
    };
    const size_t rows = h.catalogue.size();
    addScratchRow(h.catalogue);
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        EXPECT_EQ(test::TitleTexts(sheet).back(), u"Scratch");
        QWidget* page = Go(sheet, u"Scratch");
        Click(Control<QCheckBox>(page, u"autoParams"));
        Choose(Control<QComboBox>(page, u"sampleRate"), u"22050 Hz");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    EXPECT_EQ(h.settings.optStartPageIndex, 9100);
    h.Show([&](COptSheet& sheet) { EXPECT_EQ(sheet.ActivePage()->Title(), u"Scratch"); });

    h.Reload();
    ASSERT_EQ(h.catalogue.size(), rows);
    addScratchRow(h.catalogue);
    ASSERT_TRUE(LoadSettings(*h.store, h.settings, h.tags, h.catalogue));
    const OutputFormatEntry& scratch = h.Format(FormatId{9100});
    EXPECT_EQ(scratch.autoParams, 0);
    EXPECT_EQ(scratch.sampleRate, 22050);

    const std::string source = h.dir.File("tone.wav");
    ASSERT_TRUE(test::WriteWav(source, test::MakeSignal(44100, 2, 44100)));
    test::RecordingHost host;
    test::RecordingRun run(host);
    SessionConfig config;
    config.settings = h.settings;
    config.settings.destOutputFolderOpt = DestOutputFolder::kSameAsSource;
    config.catalogue = h.catalogue;
    ConversionSession session(config, run);
    RunRequest request;
    request.items.emplace_back();
    ASSERT_TRUE(session.ProbeSource(source, request.items[0]).opened);
    request.format = scratch;
    run.Present({{0, FileNameOf(source)}}, "Scratch");
    RunConversion(config, request, run);
    const test::ProbeInfo info = test::FfProbe(h.dir.File("tone.sfl"));
    EXPECT_EQ(info.codecName, "flac") << host.output[0];
    EXPECT_EQ(info.sampleRate, 22050);
}

// Where the page's controls do not fit: outside the page, on top of each other, or too small
// for their text. Empty when the page is sound.
QStringList LayoutFaults(QWidget* page) {
    QStringList faults;
    QList<QWidget*> shown;
    for (QWidget* w : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisible())
            shown << w;
    auto nameOf = [](QWidget* w) {
        QString name = w->accessibleName();
        if (auto* label = qobject_cast<QLabel*>(w))
            name = label->text();
        return QString::fromLatin1(w->metaObject()->className()) + u" \""_s + name.left(40) + u'"';
    };
    for (QWidget* w : shown) {
        if (!page->rect().contains(w->geometry()))
            faults << nameOf(w) + u" reaches outside the page"_s;
        // A control given a width of its own (the narrow "?") is measured by its text alone.
        const bool ownSize = w->minimumWidth() == w->maximumWidth();
        const QSize need = w->minimumSizeHint();
        if ((!ownSize && w->width() < need.width()) || w->height() < need.height())
            faults << nameOf(w) + u" is smaller than its minimum"_s;
        auto* label = qobject_cast<QLabel*>(w);
        auto* button = qobject_cast<QAbstractButton*>(w);
        if (label && label->wordWrap()) {
            if (w->height() < w->heightForWidth(w->width()))
                faults << nameOf(w) + u" cuts off its lines"_s;
        } else if (button && ownSize) {
            if (w->width() < w->fontMetrics().horizontalAdvance(StripMnemonic(button->text())) + 8)
                faults << nameOf(w) + u" cuts off its text"_s;
        } else if (auto* list = qobject_cast<QComboBox*>(w)) {
            // Any of its items, once chosen, shows whole in the field.
            QStyleOptionComboBox option;
            option.initFrom(list);
            const int field = list->style()
                                  ->subControlRect(QStyle::CC_ComboBox, &option,
                                                   QStyle::SC_ComboBoxEditField, list)
                                  .width();
            for (int i = 0; i < list->count(); ++i)
                if (list->fontMetrics().horizontalAdvance(list->itemText(i)) > field)
                    faults << nameOf(w) + u" cuts off \""_s + list->itemText(i) + u'"';
        } else if (label || button) {
            if (w->width() < w->sizeHint().width())
                faults << nameOf(w) + u" cuts off its text"_s;
        }
    }
    for (qsizetype i = 0; i < shown.size(); ++i)
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            if (shown[i]->geometry().intersects(shown[j]->geometry()))
                faults << nameOf(shown[i]) + u" overlaps "_s + nameOf(shown[j]);
    return faults;
}

// Every page, as the sheet opens and at its smallest, shows each control whole. With
// KESTRUNE_SCREENSHOTS naming a folder, each page is also saved there as it opens
// (options-General.png, options-MP3.png, ...) for people to look at.
TEST_F(OptionsSheet, EveryPageShowsItsControlsWhole) {
    const QString pictures = qEnvironmentVariable("KESTRUNE_SCREENSHOTS");
    if (!pictures.isEmpty()) {
        ASSERT_TRUE(QDir().mkpath(pictures));
    }
    // Values that fill the pages as much as they can be: every check and list switched on,
    // the longest items chosen.
    h.wma.formats = {{22050, 32000, 1}, {44100, 64000, 2}, {44100, 128000, 2}};
    h.settings.enableExtFilter = true;
    h.settings.filterExts = "wav,mp3,m4a,aac";
    h.settings.enableSkipLength = true;
    h.settings.skipLength = 2000;
    h.settings.volumeType = VolumeMode::kManual;
    h.settings.id3TagType = TagSource::kCustom;
    h.tags.trackNumType = TrackNumMode::kCustom;
    h.tags.customTrackNum = 7;
    h.tags.genre = "Alt. Rock";
    for (OutputFormatEntry& entry : h.catalogue) {
        entry.autoParams = 0;
        entry.sampleRate = 0;  // "Auto (the program will choose the best sample rate)"
        entry.bitRate = 0;
        entry.channels = 0;
    }
    h.Show([&](COptSheet& sheet) {
        QApplication::processEvents();
        const QSize opening = sheet.size();
        for (int i = 0; i < sheet.PageCount(); ++i) {
            COptPage* page = Go(sheet, sheet.Page(i)->Title());
            ASSERT_EQ(sheet.ActivePageIndex(), i);
            for (const QSize size : {opening, QSize(1, 1)}) {
                sheet.resize(size);
                QApplication::processEvents();
                EXPECT_EQ(LayoutFaults(page), QStringList())
                    << page->Title().toStdString() << " at " << sheet.width() << "x"
                    << sheet.height();
            }
            sheet.resize(opening);
            QApplication::processEvents();
            // The lists of an encoding page change with the codec.
            if (auto* codecs = qobject_cast<CPageOptAudio*>(page)
                                   ? Control<QComboBox>(page, u"codecId")
                                   : nullptr) {
                for (int c = codecs->count() - 1; c >= 0; --c) {
                    Choose(codecs, codecs->itemText(c));
                    QApplication::processEvents();
                    EXPECT_EQ(LayoutFaults(page), QStringList())
                        << page->Title().toStdString() << " with "
                        << codecs->itemText(c).toStdString();
                }
            }
            if (!pictures.isEmpty()) {
                QString name = page->Title();
                name.replace(u'/', u'-');
                EXPECT_TRUE(sheet.grab().save(pictures + u"/options-"_s + name + u".png"_s));
            }
        }
    });
}

// Under the light and the dark Fusion palette, at 125% and 150% fonts, the General and MP3
// pages keep every control whole and every text readable. With KESTRUNE_SCREENSHOTS set, each
// look is saved (options-General-dark-125.png).
TEST_F(OptionsSheet, PagesAreWholeAndReadableInEveryLook) {
    const QString pictures = qEnvironmentVariable("KESTRUNE_SCREENSHOTS");
    for (const bool dark : {false, true})
        for (const double scale : {1.25, 1.5}) {
            test::LooksScope look(dark, scale);
            h.Show([&](COptSheet& sheet) {
                for (const QString& title : {u"General"_s, u"MP3"_s}) {
                    COptPage* page = Go(sheet, title);
                    QApplication::processEvents();
                    const QString name = title + (dark ? u"-dark-"_s : u"-light-"_s) +
                                         QString::number(qRound(scale * 100));
                    EXPECT_EQ(LayoutFaults(page), QStringList()) << name.toStdString();
                    EXPECT_EQ(test::ReadabilityFaults(&sheet), QStringList()) << name.toStdString();
                    if (!pictures.isEmpty()) {
                        EXPECT_TRUE(
                            sheet.grab().save(pictures + u"/options-"_s + name + u".png"_s));
                    }
                }
                sheet.reject();
            });
        }
}

}  // namespace
}  // namespace kestrune
