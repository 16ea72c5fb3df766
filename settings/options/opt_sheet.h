#pragma once
// The Options sheet. The main window's "&Options" command calls
//
//   bool ShowOptions(QWidget* parent, ConvertSettings& settings, TagOptions& tags,
//                    OutputCatalogue& catalogue, SettingsStore& store,
//                    WmaFormatSource& windowsMedia, Prompter& prompter,
//                    FileDialogs& dialogs, Desktop& desktop);
//
// It shows the sheet modally over parent, editing copies of the settings, the tag options and
// the per-format values of the catalogue rows. Whichever way the sheet closes,
// settings.optStartPageIndex records the page that was active (it is stored with the format at
// shutdown): its position among the pages the sheet had before the catalogue grew, so that a
// settings file of that time opens the same page, or the format id of a page added since. When
// confirmed, every value is copied back, the extension filter is rebuilt and the options are saved
// to store with kSaveOptions (8); the result is then true. When cancelled nothing else changes and
// the result is false. windowsMedia is the main window's runtime and format list (a
// RuntimeWmaFormatSource over the WindowsMediaSupport of its session configuration); message boxes,
// the folder browser and the desktop go through prompter, dialogs and desktop.

#include <QDialog>
#include <vector>

#include "engine/convert_settings.h"
#include "settings/settings_store.h"
#include "writers/output_catalogue.h"

class QDialogButtonBox;
class QListWidget;
class QStackedWidget;

namespace kestrune {

class COptPage;
class Desktop;
class FileDialogs;
class Prompter;
class WmaFormatSource;

bool ShowOptions(QWidget* parent, ConvertSettings& settings, TagOptions& tags,
                 OutputCatalogue& catalogue, SettingsStore& store, WmaFormatSource& windowsMedia,
                 Prompter& prompter, FileDialogs& dialogs, Desktop& desktop);

// The sheet: a list of page titles beside the pages, OK and Cancel. Leaving a page or
// pressing OK first lets the page check what it holds; a page that refuses stays.
class COptSheet : public QDialog {
    Q_OBJECT
public:
    explicit COptSheet(QWidget* parent = nullptr);

    // The sheet owns the page.
    void AddPage(COptPage* page);
    int PageCount() const { return static_cast<int>(pages_.size()); }
    COptPage* Page(int index) const { return pages_[static_cast<size_t>(index)]; }

    // Shows the page at index (an index out of range shows the first page).
    void SetActivePage(int index);
    int ActivePageIndex() const { return active_; }
    COptPage* ActivePage() const { return active_ >= 0 ? Page(active_) : nullptr; }

    // OK: the active page checks its entries; when they pass, every page that was shown takes
    // its controls' values and the sheet closes confirmed.
    void accept() override;

private:
    void PageRequested(int index);
    void Step(int delta);

    std::vector<COptPage*> pages_;
    int active_ = -1;
    QListWidget* titles_;
    QStackedWidget* stack_;
    QDialogButtonBox* buttons_;
};

}  // namespace kestrune
