#pragma once

#include <QElapsedTimer>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/folder_walk.h"
#include "app/run_controller.h"
#include "app/window_prompts.h"
#include "engine/probe_run.h"
#include "engine/session_config.h"
#include "settings/options/wma_format_source.h"

class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

namespace kestrune {

struct AppServices;
class AddingRun;
class FileListView;
class FileRow;
class HyperLink;
class ProgressWindow;

// The program's window: the file list, the command buttons, the output-format box, the small
// Help / Minimize / Close buttons and the home-page link. It owns the engine's configuration
// (the settings, the custom tag, the catalogue, the Windows Media runtime) for as long as the
// program runs. Adding files and converting run on threads of their own; meanwhile the window
// is disabled (its progress window takes the Cancel) and its thread stays free.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    // The size of the first start, and the smallest the window can be made.
    static constexpr int kWidth = 950;
    static constexpr int kHeight = 650;
    // The last item of the output-format box: video targets, which are refused.
    static constexpr int kVideoItem = StoredValue(FormatId::kVideo);
    static constexpr const char* kVideoItemText =
        " to VIDEO (3GP, AVI, FLV, MOV, MP4, MPEG, WMV, etc.)";
    static constexpr const char* kVideoRefusal =
        "Kestrune converts to audio formats only. To convert to a video format, please use a "
        "video converter.";

    // Every option at its default, the documents folder as the default output folder, the
    // catalogue built. Nothing is read from the store yet.
    explicit MainWindow(AppServices& services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // The window's set-up, in order: the sound font, the stored settings, title and icon, the
    // size, the list's columns, the tooltips, the output-format box, drops, and the manual on
    // the very first start.
    void Initialise();
    // What closing does: the help window closed, the list emptied, the format and the Options
    // start page saved. Runs once.
    void Shutdown();

    // The commands.
    void AddFiles();
    void AddFolder();
    void Remove();
    void RemoveAll();
    void SelectAll();
    void ConvertAll();
    void ConvertSelected();
    void ConvertAllToOne();
    void ConvertSelectedToOne();
    void PlaySource();
    void PlayDestination();
    void BrowseSourceFolder();
    void BrowseDestinationFolder();
    void HelpTopics();
    void TellAFriend();
    void FeedbackAndSupport();
    void Homepage();
    void CheckLatestVersion();
    void About();
    void Options();
    void PopHelpMenu();
    // Opens the list's menu by the current row, as Shift+F10 and the Menu key do.
    void PopListMenu();
    // Closes the window, as the Close button does.
    void Quit();
    // Move the selected rows one place up or down.
    void MoveUp();
    void MoveDown();

    // Starts probing paths in order, adding a row for each file that opens, and reports the
    // files that did not once all are done.
    void AddFileList(const std::vector<std::string>& paths);
    // Starts adding what a drop brought: folders are searched, files filtered.
    void AddDropped(const std::vector<std::string>& paths);

    // Enables the menu commands for the list's state, as when a menu opens.
    void UpdateMenuState();

    // For the tests and the end-to-end driver; every control, menu and menu command also has
    // an object name.
    FileListView* List() const { return list_; }
    QComboBox* FormatBox() const { return formatBox_; }
    ConvertSettings& Settings() { return config_.settings; }
    const OutputCatalogue& Catalogue() const { return config_.catalogue; }
    RunController& Runner() { return runner_; }
    int SoundFontLoaded() const { return config_.soundFontLoaded; }
    // While files are added or converted.
    bool Busy() const { return activity_ != Activity::kIdle; }
    // The line on how the last run of converting ended, until the next command.
    QString SummaryLine() const;
    // Why the last file that failed to be added failed, where there is more to say.
    const std::string& LastAddingDetail() const { return addingDetail_; }
    // The open-file dialog's filters, in order.
    static QStringList OpenFileFilters();

signals:
    // After each path of a run of adding, numbered from 1.
    void fileAdded(int number);
    // A run of adding or converting starts (true) or ends (false).
    void busyChanged(bool busy);
    // The list menu is about to pop up.
    void listMenuShown();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Adds what a drop of addresses brought; false when none was a local file.
    bool DropUrls(const QList<QUrl>& urls);

private:
    void BuildControls();
    void BuildMenus();
    void FillFormatBox();
    void SelectStoredFormat();
    void OnFormatChosen(int index);
    // Opens the help, maximised on the very first start.
    void ShowHelp(bool maximised);
    void RunConversion(bool selectedOnly, bool toOne);
    // What the window does while files are added or converted: it is disabled, so every
    // command is, and a close waits for the run to stop.
    enum class Activity { kIdle, kAdding, kConverting };
    void SetActivity(Activity activity);
    // Starts a run of adding in progress (a window that may already show "Searching files...").
    AddingRun* StartAdding(std::unique_ptr<ProgressWindow> progress);
    void OnFileProbed(int number, const ProbedFile& file);
    void OnAddingFinished();
    FileRow* FirstSelectedRow() const;
    // Brings the newest row into view.
    void ScrollToLastRow();
    // The options that decide which found files are taken.
    CandidateFilter CurrentFilter() const;
    // How many files are converted (and probed) at once.
    int Workers() const;
    // The window's size and the list's columns, from the settings and back.
    void RestoreLayout();
    void SaveLayout();
    // A run of converting is over: the summary line, and a notification when the window is in
    // the background.
    void OnConversionFinished();
    // Places the controls for the window's size and the labels' widths.
    void LayOut();
    // Paints the small buttons' glyphs in the theme's text colour.
    void TintCaptionIcons();
    // Tells the user why a file, folder or address did not open.
    void TellIfNotOpened(int result, const QString& what);

    AppServices& services_;
    FileListView* list_ = nullptr;
    SessionConfig config_;
    WindowPrompts prompts_;
    // After the configuration: a run's thread reads it until the controller is gone.
    RunController runner_;
    RuntimeWmaFormatSource windowsMedia_;
    std::unordered_map<std::string, FileRow*> listed_;  // the duplicate index

    QComboBox* formatBox_ = nullptr;
    HyperLink* homepageLink_ = nullptr;
    QLabel* summaryLabel_ = nullptr;
    QMenu* listMenu_ = nullptr;
    QMenu* helpMenu_ = nullptr;
    QToolButton* helpButton_ = nullptr;
    std::vector<QPushButton*> buttons_;
    std::vector<QToolButton*> captionButtons_;

    Activity activity_ = Activity::kIdle;
    bool closeWhenIdle_ = false;
    bool shutDown_ = false;
    AddingRun* adding_ = nullptr;  // the run of adding under way
    // What a run of adding reports at its end.
    struct AddingReport {
        QString failures;
        int failed = 0;
        bool unrepresentable = false;
        QElapsedTimer sinceScroll;
    } addingReport_;
    std::string addingDetail_;
};

}  // namespace kestrune
