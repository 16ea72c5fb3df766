#include "settings/options/opt_sheet.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>

#include "desktop/wait_cursor.h"
#include "settings/options/amr_opt_page.h"
#include "settings/options/opt_general_page.h"
#include "settings/options/opt_output_page.h"
#include "settings/options/page_opt_audio.h"
#include "settings/options/page_opt_id3.h"
#include "settings/options/page_wma_options.h"
#include "settings/settings_persistence.h"

namespace kestrune {

namespace {

// What identifies a page whatever rows the catalogue gains: the format id of a format's page,
// or one of these for the three fixed pages.
constexpr int kGeneralPage = -1;
constexpr int kOutputPage = -2;
constexpr int kId3Page = -3;

// The pages the sheet had before the catalogue grew, in their order. "OptStartPageIndex" keeps
// a position among these, as every earlier version wrote it; a page added since is kept as its
// format's id (1000 and up, which no position reaches).
constexpr int kFirstPages[] = {
    kGeneralPage,
    kOutputPage,
    kId3Page,
    StoredValue(FormatId::k3g2),
    StoredValue(FormatId::k3gp),
    StoredValue(FormatId::kAac),
    StoredValue(FormatId::kAacDevice),
    StoredValue(FormatId::kAc3),
    StoredValue(FormatId::kAiff),
    StoredValue(FormatId::kAlac),
    StoredValue(FormatId::kAmr),
    StoredValue(FormatId::kAu),
    StoredValue(FormatId::kAvi),
    StoredValue(FormatId::kAwb),
    StoredValue(FormatId::kFlac),
    StoredValue(FormatId::kFlv),
    StoredValue(FormatId::kM4a),
    StoredValue(FormatId::kM4b),
    StoredValue(FormatId::kM4r),
    StoredValue(FormatId::kMka),
    StoredValue(FormatId::kMmf),
    StoredValue(FormatId::kMov),
    StoredValue(FormatId::kMp2),
    StoredValue(FormatId::kMp3),
    StoredValue(FormatId::kMp4),
    StoredValue(FormatId::kMpa),
    StoredValue(FormatId::kOgg),
    StoredValue(FormatId::kSwf),
    StoredValue(FormatId::kVoc),
    StoredValue(FormatId::kWav),
    StoredValue(FormatId::kWma),
};

int PageKeyOfStored(int stored) {
    if (stored >= 0 && stored < static_cast<int>(std::size(kFirstPages)))
        return kFirstPages[stored];
    return stored >= 1000 ? stored : kGeneralPage;
}

int StoredOfPageKey(int key) {
    const auto* at = std::find(std::begin(kFirstPages), std::end(kFirstPages), key);
    return at != std::end(kFirstPages) ? static_cast<int>(at - std::begin(kFirstPages)) : key;
}

}  // namespace

COptSheet::COptSheet(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* body = new QHBoxLayout;
    titles_ = new QListWidget(this);
    titles_->setObjectName(QStringLiteral("pages"));
    titles_->setAccessibleName(QStringLiteral("Options"));
    titles_->setSelectionMode(QAbstractItemView::SingleSelection);
    stack_ = new QStackedWidget(this);
    body->addWidget(titles_);
    body->addWidget(stack_, 1);
    layout->addLayout(body, 1);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons_);
    connect(buttons_, &QDialogButtonBox::accepted, this, &COptSheet::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &COptSheet::reject);
    connect(titles_, &QListWidget::currentRowChanged, this, &COptSheet::PageRequested);

    // The pages in turn from anywhere in the sheet, as tabs would go.
    for (const auto& [keys, delta] :
         {std::pair{QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
          std::pair{QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
          std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
          std::pair{QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1}}) {
        auto* shortcut = new QShortcut(keys, this);
        const int d = delta;
        connect(shortcut, &QShortcut::activated, this, [this, d] { Step(d); });
    }
}

void COptSheet::AddPage(COptPage* page) {
    pages_.push_back(page);
    stack_->addWidget(page);
    titles_->addItem(page->Title());
    // The list is as wide as its longest title.
    titles_->setFixedWidth(titles_->sizeHintForColumn(0) + 2 * titles_->frameWidth() + 24);
    // Tall enough to show every title at once where the screen allows.
    const int rows = titles_->count() * std::max(titles_->sizeHintForRow(0), 1);
    titles_->setMinimumHeight(std::min(rows + 2 * titles_->frameWidth(), 560));
}

void COptSheet::SetActivePage(int index) {
    if (index < 0 || index >= PageCount())
        index = 0;
    if (PageCount() == 0)
        return;
    active_ = index;
    {
        const QSignalBlocker quiet(titles_);
        titles_->setCurrentRow(index);
    }
    stack_->setCurrentIndex(index);
    Page(index)->Activate();
}

void COptSheet::PageRequested(int index) {
    if (index < 0 || index == active_)
        return;
    if (COptPage* leaving = ActivePage(); leaving && !leaving->Validate()) {
        // The page keeps its place; the list goes back to it.
        const QSignalBlocker quiet(titles_);
        titles_->setCurrentRow(active_);
        return;
    }
    SetActivePage(index);
}

void COptSheet::Step(int delta) {
    if (PageCount() == 0)
        return;
    const int next = (active_ + delta + PageCount()) % PageCount();
    titles_->setCurrentRow(next);
}

void COptSheet::accept() {
    if (COptPage* page = ActivePage(); page && !page->Validate())
        return;
    for (COptPage* page : pages_)
        page->Apply();
    QDialog::accept();
}

bool ShowOptions(QWidget* parent, ConvertSettings& settings, TagOptions& tags,
                 OutputCatalogue& catalogue, SettingsStore& store, WmaFormatSource& windowsMedia,
                 Prompter& prompter, FileDialogs& dialogs, Desktop& desktop) {
    std::optional<WaitCursor> wait(std::in_place);
    COptSheet sheet(parent);

    // The pages that edit the settings and the tag, and those that edit a catalogue row.
    std::vector<COptPage*> optionPages;
    std::vector<std::pair<CPageOptAudio*, OutputFormatEntry*>> audioPages;
    std::vector<int> pageKeys;  // in the sheet's order
    auto add = [&](COptPage* page, int key) {
        page->Load(settings, tags);
        sheet.AddPage(page);
        optionPages.push_back(page);
        pageKeys.push_back(key);
    };
    add(new COptGeneralPage(prompter), kGeneralPage);
    add(new COptOutputPage(prompter, dialogs, desktop), kOutputPage);
    add(new CPageOptID3(prompter), kId3Page);
    for (OutputFormatEntry& entry : catalogue) {
        const int key = StoredValue(entry.formatId);
        switch (entry.formatId) {
            case FormatId::kAmr:
                add(new CAMROptPage(prompter), key);
                break;
            case FormatId::kAwb:
                add(new CAWBOptPage(prompter), key);
                break;
            case FormatId::kWma:
                add(new CPageWMAOptions(prompter, desktop, windowsMedia), key);
                break;
            case FormatId::kWmv:
            case FormatId::kAsf:
                break;  // they share the Windows Media page
            default: {
                auto* page = new CPageOptAudio(QString::fromStdString(entry.PageTitle()),
                                               entry.allowedCodecs, prompter);
                page->Load(entry);
                sheet.AddPage(page);
                audioPages.emplace_back(page, &entry);
                pageKeys.push_back(key);
                break;
            }
        }
    }
    wait.reset();  // before the start page shows: it may ask something
    const auto start =
        std::find(pageKeys.begin(), pageKeys.end(), PageKeyOfStored(settings.optStartPageIndex));
    sheet.SetActivePage(start != pageKeys.end() ? static_cast<int>(start - pageKeys.begin()) : 0);

    const bool confirmed = sheet.exec() == QDialog::Accepted;
    const int active = sheet.ActivePageIndex();
    settings.optStartPageIndex =
        StoredOfPageKey(active >= 0 ? pageKeys[static_cast<size_t>(active)] : kGeneralPage);
    if (!confirmed)
        return false;

    for (const COptPage* page : optionPages)
        page->Store(settings, tags);
    ParseFilterExts(settings);
    for (auto& [page, entry] : audioPages)
        page->Store(*entry);
    SaveSettings(store, kSaveOptions, settings, tags, catalogue);
    return true;
}

}  // namespace kestrune
