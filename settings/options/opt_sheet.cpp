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
    auto add = [&](COptPage* page) {
        page->Load(settings, tags);
        sheet.AddPage(page);
        optionPages.push_back(page);
    };
    add(new COptGeneralPage(prompter));
    add(new COptOutputPage(prompter, dialogs, desktop));
    add(new CPageOptID3(prompter));
    for (OutputFormatEntry& entry : catalogue) {
        switch (entry.formatId) {
            case FormatId::kAmr:
                add(new CAMROptPage(prompter));
                break;
            case FormatId::kAwb:
                add(new CAWBOptPage(prompter));
                break;
            case FormatId::kWma:
                add(new CPageWMAOptions(prompter, desktop, windowsMedia));
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
                break;
            }
        }
    }
    wait.reset();  // before the start page shows: it may ask something
    sheet.SetActivePage(settings.optStartPageIndex);

    const bool confirmed = sheet.exec() == QDialog::Accepted;
    settings.optStartPageIndex = sheet.ActivePageIndex();
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
