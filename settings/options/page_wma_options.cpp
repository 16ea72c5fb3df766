#include "settings/options/page_wma_options.h"

#include <QLabel>
#include <QListWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "desktop/prompter.h"
#include "desktop/wait_cursor.h"
#include "engine/web_addresses.h"
#include "settings/options/wma_format_source.h"

namespace kestrune {

namespace {

// The selected row, or -1. (The current row alone says nothing: a list given the focus makes
// its first row current without choosing it.)
int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

}  // namespace

const char* const CPageWMAOptions::kRuntimeMissing =
    "Dear user, WMA file requires Windows Media Format 9 Series Runtime.\nUnfortunately, the "
    "component isn't available on your computer.\n\nDo you want to download and install it now?";

CPageWMAOptions::CPageWMAOptions(Prompter& prompter, Desktop& desktop, WmaFormatSource& formats,
                                 QWidget* parent)
    : COptPage(QStringLiteral("WMA/WMV/ASF"), prompter, parent),
      desktop_(desktop),
      source_(formats) {
    auto* layout = new QVBoxLayout(this);
    list_ = new QListWidget(this);
    list_->setObjectName(QStringLiteral("wmaFormats"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(BuddyLabel(
        QStringLiteral("&Encoding Options: (sample rate, bit rate, channels)"), list_, this));
    layout->addWidget(list_, 1);
    Own(&ConvertSettings::wmaAutoEncParam);
    Own(&ConvertSettings::wmaSampleRate);
    Own(&ConvertSettings::wmaBitRate);
    Own(&ConvertSettings::wmaChannels);
}

void CPageWMAOptions::InitControls() {
    const ConvertSettings& s = values().settings;
    list_->addItem(QStringLiteral("Auto (the program will choose the best options)"));
    if (s.wmaAutoEncParam)
        list_->setCurrentRow(0);

    if (!source_.RuntimeLoaded()) {
        if (source_.LoadRuntime()) {
            source_.BuildFormatList();
        } else {
            runtimeMissing_ = true;
            if (prompter().AskYesNo(this, QString::fromUtf8(kRuntimeMissing))) {
                WaitCursor wait;
                desktop_.OpenUrl(QUrl(QString::fromLatin1(kWindowsMediaDownloadUrl)));
            }
            return;
        }
    } else if (source_.FormatList().empty()) {
        // Loaded by a step that had no use for the list yet.
        source_.BuildFormatList();
    }

    for (const WmaCodecFormat& f : source_.FormatList()) {
        if (f.bitRate < 1000)
            continue;
        const Format format{f.SampleRate(), f.bitRate, f.Channels()};
        list_->addItem(QString::asprintf("%d Hz, %d kbps, %s", format.sampleRate,
                                         format.bitRate / 1000,
                                         format.channels == 1 ? "Mono" : "Stereo"));
        formats_.push_back(format);
        if (!s.wmaAutoEncParam && SelectedRow(list_) < 0 && format.sampleRate == s.wmaSampleRate &&
            format.bitRate / 1000 == s.wmaBitRate / 1000 && format.channels == s.wmaChannels)
            list_->setCurrentRow(list_->count() - 1);
    }
}

void CPageWMAOptions::ApplyControls() {
    const int row = SelectedRow(list_);
    // Without the runtime there is nothing to choose from: a manual choice made before is kept
    // unless "Auto" itself is picked.
    if (runtimeMissing_ && row < 0)
        return;
    ConvertSettings& s = values().settings;
    if (row <= 0) {
        s.wmaAutoEncParam = true;
        return;
    }
    const Format& f = formats_[static_cast<size_t>(row - 1)];
    s.wmaAutoEncParam = false;
    s.wmaSampleRate = f.sampleRate;
    s.wmaBitRate = f.bitRate;
    s.wmaChannels = f.channels;
}

}  // namespace kestrune
