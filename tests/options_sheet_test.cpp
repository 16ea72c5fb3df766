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
#include "readers/bass_reader.h"
#include "settings/options/page_opt_audio.h"
#include "tests/support/options_harness.h"
#include "tests/support/recording_host.h"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using test::Choose;
using test::Click;
using test::Control;
using test::Go;

class OptionsSheet : public ::testing::Test {
protected:
    test::OptionsHarness h;
};

TEST_F(OptionsSheet, PagesInCatalogueOrderAndTheStartPageHoweverItCloses) {
    const QStringList expected{
        "General", "Output", "ID3",        "3G2", "3GP", "AAC", "AAC for iPod/DSi",
        "AC3",     "AIFF",   "ALAC",       "AMR", "AU",  "AVI", "AWB",
        "FLAC",    "FLV",    "M4A",        "M4B", "M4R", "MKA", "MMF",
        "MOV",     "MP2",    "MP3",        "MP4", "MPA", "OGG", "SWF",
        "VOC",     "WAV",    "WMA/WMV/ASF"};
    bool confirmed = h.Show([&](COptSheet& sheet) {
        EXPECT_EQ(sheet.windowTitle(), "Options");
        EXPECT_EQ(test::TitleTexts(sheet), expected);
        ASSERT_EQ(sheet.PageCount(), 31);
        EXPECT_EQ(sheet.ActivePageIndex(), 0);
        // Neither "Apply" nor "Help".
        QStringList buttons;
        for (QPushButton* b : sheet.findChildren<QPushButton*>())
            if (b->parentWidget() != nullptr && !qobject_cast<COptPage*>(b->parentWidget()))
                buttons << StripMnemonic(b->text());
        buttons.sort();
        EXPECT_EQ(buttons, (QStringList{"Cancel", "OK"}));
        Go(sheet, "AC3");
        Go(sheet, "3GP");  // the fifth page
        EXPECT_EQ(sheet.ActivePageIndex(), 4);
        sheet.reject();
    });
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(h.settings.optStartPageIndex, 4);

    // The next sheet opens there; closed with OK on another page, that one is kept.
    confirmed = h.Show([&](COptSheet& sheet) {
        EXPECT_EQ(sheet.ActivePageIndex(), 4);
        EXPECT_EQ(test::Titles(sheet)->currentRow(), 4);
        EXPECT_EQ(sheet.ActivePage()->Title(), "3GP");
        EXPECT_TRUE(sheet.ActivePage()->isVisible());
        Go(sheet, "WAV");
        sheet.accept();
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(h.settings.optStartPageIndex, 29);

    // Closing the window itself counts as cancelling.
    h.Show([&](COptSheet& sheet) {
        Go(sheet, "MKA");
        sheet.close();
    });
    EXPECT_EQ(h.settings.optStartPageIndex, 19);

    // A page index the sheet does not have opens the first page.
    for (int stored : {31, 1000, -3}) {
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
        Click(Control<QCheckBox>(general, "Do not load hidden files"));
        Control<QLineEdit>(general,
                           "Only add the following file extensions for \"Add Folder\" and "
                           "Drag/Drop")
            ->setText("wav");
        QWidget* output = Go(sheet, "Output");
        Choose(Control<QComboBox>(output, "If target file exists "), "Overwrite");
        QWidget* id3 = Go(sheet, "ID3");
        Click(Control<QRadioButton>(id3, "Add custom ID3 tag"));
        Control<QLineEdit>(id3, "Artist:")->setText("Nobody");
        Click(Control<QRadioButton>(Go(sheet, "AMR"), "WB (Wide Band, 16000 Hz)"));
        Control<QListWidget>(Go(sheet, "WMA/WMV/ASF"),
                             "Encoding Options: (sample rate, bit rate, channels)")
            ->setCurrentRow(1);
        QWidget* mp3 = Go(sheet, "MP3");
        Click(Control<QCheckBox>(mp3, "Auto (the program will choose the best options)"));
        Choose(Control<QComboBox>(mp3, "Bit Rate:"), "320 kbps");
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
        const QString filter =
            "Only add the following file extensions for \"Add Folder\" and Drag/Drop";
        Click(Control<QCheckBox>(general, filter));
        Control<QLineEdit>(general, filter)->setText("MP3; wav,,OGG ");
        Click(Control<QRadioButton>(general, "L channel"));
        Click(Control<QCheckBox>(general, "Skip the first"));
        Control<SpinEdit>(general, "Skip the first")->SetText("1500");

        QWidget* output = Go(sheet, "Output");
        Choose(Control<QComboBox>(output, "Output folder:"), "Specific folder");
        h.dialogs.chosenFolder = QString::fromStdString(h.dir.File("out"));
        Click(Control<QPushButton>(output, "Browse"));
        Click(Control<QCheckBox>(output, "Browse output folder when conversion completes"));

        QWidget* id3 = Go(sheet, "ID3");
        Click(Control<QRadioButton>(id3, "Add custom ID3 tag"));
        Control<QLineEdit>(id3, "Composer:")->setText("B. Composer");
        Control<QComboBox>(id3, "Genre:")->setEditText("Bebob");

        QWidget* amr = Go(sheet, "AMR");
        Click(Control<QRadioButton>(amr, "WB (Wide Band, 16000 Hz)"));
        Choose(Control<QComboBox>(amr, "Bit Rate:", 1), "12.65 kbps");
        Click(Control<QCheckBox>(amr, "Enable DTX (Discontinuous Transmission)"));
        Choose(Control<QComboBox>(Go(sheet, "AWB"), "Bit Rate:"), "6.60 kbps");
        Control<QListWidget>(Go(sheet, "WMA/WMV/ASF"),
                             "Encoding Options: (sample rate, bit rate, channels)")
            ->setCurrentRow(1);
        QWidget* ogg = Go(sheet, "OGG");
        Choose(Control<QComboBox>(ogg, "Codec:"), "FLAC (Free Lossless Audio Codec)");
        Click(Control<QCheckBox>(ogg, "Auto (the program will choose the best options)"));
        Choose(Control<QComboBox>(ogg, "Sample Rate:"), "96000 Hz");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);

    // What the program reads at its next start.
    h.Reload();
    EXPECT_EQ(h.settings.enableExtFilter, 1);
    EXPECT_EQ(h.settings.filterExts, "MP3; wav,,OGG ");
    EXPECT_EQ(h.settings.filterExtList, (std::vector<std::string>{"mp3", "wav", "ogg"}));
    EXPECT_EQ(h.settings.monoType, kMonoLeft);
    EXPECT_EQ(h.settings.enableSkipLength, 1);
    EXPECT_EQ(h.settings.skipLength, 1500u);
    EXPECT_EQ(h.settings.destOutputFolderOpt, kDestSpecificFolder);
    EXPECT_EQ(h.settings.destSpecifiedFolder, h.dir.File("out/"));
    EXPECT_EQ(h.settings.browseOutputFolder, 0);
    EXPECT_EQ(h.settings.id3TagType, kTagsCustom);
    EXPECT_EQ(h.tags.composer, "B. Composer");
    EXPECT_EQ(h.tags.genre, "Bebob");
    EXPECT_EQ(h.settings.amrType, 1);
    EXPECT_EQ(h.settings.amrwbMode, 2);
    EXPECT_EQ(h.settings.amrDtx, 1);
    EXPECT_EQ(h.settings.awbMode, 0);
    EXPECT_EQ(h.settings.wmaAutoEncParam, 0);
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
    static const bool layerReady =
        InitDecodingLayer(RunningProgramFolder()) == DecodingLayerStart::Ready;
    ASSERT_TRUE(layerReady);
    const std::string source = h.dir.File("tone.wav");
    ASSERT_TRUE(test::WriteWav(source, test::MakeSignal(44100, 2, 44100 * 2)));
    const QString outFolder = QString::fromStdString(h.dir.File("chosen out"));
    const bool confirmed = h.Show([&](COptSheet& sheet) {
        QWidget* output = Go(sheet, "Output");
        Choose(Control<QComboBox>(output, "Output folder:"), "Specific folder");
        Control<QLineEdit>(output, "Specific folder:")->setText(outFolder);
        QWidget* mp3 = Go(sheet, "MP3");
        Click(Control<QCheckBox>(mp3, "Auto (the program will choose the best options)"));
        Choose(Control<QComboBox>(mp3, "Bit Rate:"), "96 kbps");
        sheet.accept();
    });
    ASSERT_TRUE(confirmed);
    h.Reload();

    test::RecordingHost host;
    test::RecordingRun run(host);
    SessionConfig config;
    config.settings = h.settings;
    config.settings.id3TagType = kTagsNone;
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
        return QString::fromLatin1(w->metaObject()->className()) + " \"" + name.left(40) + "\"";
    };
    for (QWidget* w : shown) {
        if (!page->rect().contains(w->geometry()))
            faults << nameOf(w) + " reaches outside the page";
        // A control given a width of its own (the narrow "?") is measured by its text alone.
        const bool ownSize = w->minimumWidth() == w->maximumWidth();
        const QSize need = w->minimumSizeHint();
        if ((!ownSize && w->width() < need.width()) || w->height() < need.height())
            faults << nameOf(w) + " is smaller than its minimum";
        auto* label = qobject_cast<QLabel*>(w);
        auto* button = qobject_cast<QAbstractButton*>(w);
        if (label && label->wordWrap()) {
            if (w->height() < w->heightForWidth(w->width()))
                faults << nameOf(w) + " cuts off its lines";
        } else if (button && ownSize) {
            if (w->width() < w->fontMetrics().horizontalAdvance(StripMnemonic(button->text())) + 8)
                faults << nameOf(w) + " cuts off its text";
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
                    faults << nameOf(w) + " cuts off \"" + list->itemText(i) + "\"";
        } else if (label || button) {
            if (w->width() < w->sizeHint().width())
                faults << nameOf(w) + " cuts off its text";
        }
    }
    for (qsizetype i = 0; i < shown.size(); ++i)
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            if (shown[i]->geometry().intersects(shown[j]->geometry()))
                faults << nameOf(shown[i]) + " overlaps " + nameOf(shown[j]);
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
    h.settings.enableExtFilter = 1;
    h.settings.filterExts = "wav,mp3,m4a,aac";
    h.settings.enableSkipLength = 1;
    h.settings.skipLength = 2000;
    h.settings.volumeType = kVolumeManual;
    h.settings.id3TagType = kTagsCustom;
    h.tags.trackNumType = kTrackCustom;
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
                                   ? Control<QComboBox>(page, "Codec:")
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
                name.replace('/', '-');
                EXPECT_TRUE(sheet.grab().save(pictures + "/options-" + name + ".png"));
            }
        }
    });
}

}  // namespace
}  // namespace kestrune
