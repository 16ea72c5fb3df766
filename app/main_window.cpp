#include "app/main_window.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <filesystem>

#include "app/about_box.h"
#include "app/adding_run.h"
#include "app/app_services.h"
#include "app/desktop_links.h"
#include "app/file_list_view.h"
#include "app/help_viewer.h"
#include "app/hyper_link.h"
#include "app/progress_window.h"
#include "audio/utf8_text.h"
#include "desktop/prompter.h"
#include "desktop/wait_cursor.h"
#include "engine/run_scheduler.h"
#include "engine/web_addresses.h"
#include "messages/item_texts.h"
#include "messages/run_questions.h"
#include "settings/options/opt_sheet.h"
#include "settings/settings_persistence.h"

// The window's pictures live in the library; a static library must ask for them explicitly.
static void InitAppResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kestrune {

namespace {

// Bringing the newest row into view lays the whole list out again: a run of adding does it a
// few times a second.
constexpr int kScrollMilliseconds = 250;

// Tooltips come up after 300 ms.
class ToolTipStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_ToolTip_WakeUpDelay)
            return 300;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

void InstallToolTipDelay() {
    if (!dynamic_cast<ToolTipStyle*>(QApplication::style()))
        QApplication::setStyle(new ToolTipStyle);
}

struct CommandButton {
    const char* name;  // the object name
    const char* text;
    const char* tip;
    QRect at;
};

// The command buttons, in the order the keyboard reaches them.
const CommandButton kAddFiles{"addFilesButton", "&Add Files", "Add files", {11, 72, 107, 27}};
const CommandButton kAddFolder{
    "addFolderButton", "Add &Folder", "Add files from a folder", {11, 119, 107, 27}};
const CommandButton kRemoveAll{
    "removeAllButton", "&Remove All", "Remove all files in list", {11, 166, 107, 27}};
const CommandButton kConvert{"convertButton", "&Convert", "Convert all files", {11, 213, 107, 27}};
const CommandButton kConvertToOne{"convertToOneButton",
                                  "Co&nvert to One",
                                  "Convert all files into a sinle one file",
                                  {11, 297, 107, 27}};
const CommandButton kOptions{"optionsButton", "&Options", "Options", {11, 345, 107, 27}};

// The open-file dialog's filters: each label names its own patterns.
const char* const kOpenFilters[] = {
    "All Files (*.*)",
    "3GPP Files (*.3gp;*.3gpp)",
    "3GPP2 Files (*.3g2;*.3gp2)",
    "Adobe Flash Files (*.swf)",
    "Advanced Audio Coding (*.aac)",
    "AIFF Files (*.aiff;*.aif;*.aifc;*.afc)",
    "AMR Files (*.amr;*.awb)",
    "AU Files (*.au;*.snd)",
    "AVI Files (*.avi)",
    "CD Audio (*.cda)",
    "Creative Voice Files (*.voc)",
    "CRI ADX Files (*.adx)",
    "Cue Sheets (*.cue)",
    "Dolby Digital AC-3 (*.ac3)",
    "DTS Files (*.dts)",
    "DV Video Files (*.dv;*.dif)",
    "DVD Video Files (*.vob;*.dvd)",
    "Electronic Arts CDATA Files (*.cdata)",
    "Flash Video Files (*.flv)",
    "Free Lossless Audio Codec (*.flac;*.fla)",
    "H.264/MPEG4 AVC Video (*.m2ts;*.mts)",
    "Matroska Files (*.mkv;*.mka)",
    "Microsoft Digital Video Recording (*.dvr-ms)",
    "MIDI Files (*.midi;*.mid;*.rmi;*.kar)",
    "MJPEG Video Files (*.mjpg;*.mjpeg)",
    "MMF Files (*.mmf)",
    "MOD Musics (*.mod;*.xm;*.it;*.s3m;*.mtm;*.umx;*.mo3)",
    "Monkey's Audio (*.ape;*.mac)",
    "MP3 Files (*.mp3)",
    "MPEG Audio Files (*.mpa;*.mpga;*.m2a)",
    "MPEG Video Files (*.mpg;*.mpe;*.mpeg;*.m1v;*.mp2;*.m2v;*.mp1;*.mlv)",
    "MPEG-4 Audio Files (*.m4a;*.m4b;*.mp4)",
    "MPEG4 TS HD Video (*.ts)",
    "MPEG-4 Video Files (*.mp4;*.m4v;*.mpv;*.psp)",
    "Musepack (*.mpc;*.mp+;*.mpp)",
    "Nullsoft Audio/Video Files (*.nsv;*.nsa)",
    "NUT Files (*.nut)",
    "OGG Files (*.ogg;*.oga;*.ogm;*.ogv;*.ogx)",
    "QuickTime Files (*.mov;*.qt)",
    "Raw h261 Files (*.h261)",
    "Raw h263 Files (*.h263)",
    "Raw h264 Video Files (*.h264;*.264)",
    "Real Audio Files (*.ra;*.ram)",
    "Real Media Files (*.rm;*.rmvb)",
    "Speex (*.spx)",
    "The True Audio (*.tta)",
    "VCD Video Files (*.dat)",
    "WAV Files (*.wav;*.wave)",
    "WavPack (*.wv)",
    "Windows Media Files (*.wma;*.asf;*.wmv;*.wm;*.wmd;*.xwmv)",
    "YUV Video Files (*.yuv)",
};

// A path as the file system spells it. A name the dialog could not decode arrives with
// replacement characters; it stays marked by them and is refused when added.
std::string PathBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// A path to show: undecodable bytes become replacement characters.
QString Shown(const std::string& path) {
    return QString::fromLocal8Bit(QByteArray::fromStdString(path));
}

// Paths whose names cannot be shown and stored as text are not listed.
bool IsRepresentable(const std::string& path) {
    return IsValidUtf8(path) && path.find("\xEF\xBF\xBD") == std::string::npos;
}

// The local path of a dropped address, byte for byte.
std::string LocalPathOf(const QUrl& url) {
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toUtf8()).toStdString();
}

}  // namespace

MainWindow::MainWindow(AppServices& services, QWidget* parent)
    : QWidget(parent),
      services_(services),
      list_(new FileListView(this)),
      config_(services.programFolder),
      prompts_(*this, services),
      runner_(*this, *list_, services),
      windowsMedia_(config_.windowsMedia) {
    InitAppResources();
    ApplyDocumentsFolderDefaults(config_.settings, services.documentsFolder);
    config_.documentsFolder =
        services.documentsFolder.empty() ? FindDocumentsFolder() : services.documentsFolder;
    connect(&runner_, &RunController::finished, this, [this] {
        SetActivity(Activity::kIdle);
        OnConversionFinished();
        activateWindow();
    });
    listed_.reserve(3000);
    BuildControls();
    BuildMenus();
}

MainWindow::~MainWindow() {
    // A run of adding still under way stops before the configuration its workers read goes.
    delete adding_;
    adding_ = nullptr;
    Shutdown();
}

QStringList MainWindow::OpenFileFilters() {
    QStringList filters;
    for (const char* filter : kOpenFilters)
        filters << QString::fromLatin1(filter);
    return filters;
}

void MainWindow::BuildControls() {
    const auto addButton = [this](const CommandButton& layout) {
        auto* button = new QPushButton(QString::fromLatin1(layout.text), this);
        button->setObjectName(QString::fromLatin1(layout.name));
        button->setGeometry(layout.at);
        button->setToolTip(QString::fromLatin1(layout.tip));
        // Bold, and at the usual desktop sizes no larger than the buttons were laid out for; a
        // large desktop font makes them larger too (nine tenths of it), and the column of
        // buttons widens and flows down for them.
        QFont bold = button->font();
        bold.setBold(true);
        const double points = bold.pointSizeF();
        if (points > 9.0)
            bold.setPointSizeF(std::max(9.0, 0.9 * points));
        button->setFont(bold);
        button->setProperty("homeTop", layout.at.y());
        button->setAutoDefault(false);
        buttons_.push_back(button);
        return button;
    };
    // Created in the order the Tab key walks them.
    connect(addButton(kAddFiles), &QPushButton::clicked, this, &MainWindow::AddFiles);
    connect(addButton(kAddFolder), &QPushButton::clicked, this, &MainWindow::AddFolder);
    connect(addButton(kRemoveAll), &QPushButton::clicked, this, &MainWindow::RemoveAll);
    connect(addButton(kConvert), &QPushButton::clicked, this, &MainWindow::ConvertAll);

    formatBox_ = new QComboBox(this);
    formatBox_->setObjectName(QStringLiteral("formatBox"));
    formatBox_->setGeometry(11, 258, 102, formatBox_->sizeHint().height());
    formatBox_->setToolTip(QStringLiteral("Output format"));
    formatBox_->setAccessibleName(QStringLiteral("Output format"));
    formatBox_->setAccessibleDescription(QStringLiteral("Output format"));
    formatBox_->setMaxVisibleItems(20);
    formatBox_->view()->setMinimumWidth(300);
    connect(formatBox_, &QComboBox::currentIndexChanged, this, &MainWindow::OnFormatChosen);

    connect(addButton(kConvertToOne), &QPushButton::clicked, this, &MainWindow::ConvertAllToOne);
    connect(addButton(kOptions), &QPushButton::clicked, this, &MainWindow::Options);

    list_->setParent(this);
    list_->setObjectName(QStringLiteral("fileList"));
    list_->setGeometry(137, 63, 803, 575);
    list_->setContextMenuPolicy(Qt::DefaultContextMenu);
    connect(list_, &FileListView::menuRequested, this, [this](const QPoint& at) {
        emit listMenuShown();
        listMenu_->popup(at);
    });
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { PlaySource(); });
    connect(list_, &FileListView::urlsDropped, this, &MainWindow::DropUrls);

    homepageLink_ = new HyperLink(
        QStringLiteral("visit homepage"),
        [this](const QString& address) { return OpenInBrowser(services_.desktop, address); },
        services_.prompter, this);
    homepageLink_->setObjectName(QStringLiteral("homepageLink"));
    homepageLink_->setGeometry(9, 618, 113, 20);
    homepageLink_->SetAdjustToText(false);
    homepageLink_->SetAddress(QString::fromLatin1(kHomePageUrl));
    homepageLink_->setToolTip(QStringLiteral("Visit %1 Homepage").arg(QStringLiteral("Kestrune")));
    QFont linkFont = homepageLink_->font();
    linkFont.setBold(true);
    homepageLink_->setFont(linkFont);
    homepageLink_->SetUnderline(HyperLink::kUnderlineAlways);

    const auto addCaptionButton = [this](const QString& name, QStyle::StandardPixmap icon, int x) {
        auto* button = new QToolButton(this);
        button->setObjectName(name.toLower() + QStringLiteral("Button"));
        button->setGeometry(x, 11, 21, 21);
        button->setProperty("standardIcon", static_cast<int>(icon));
        button->setIconSize(QSize(13, 13));
        button->setAutoRaise(true);
        button->setToolTip(name);
        button->setAccessibleName(name);
        button->setFocusPolicy(Qt::TabFocus);
        captionButtons_.push_back(button);
        return button;
    };
    helpButton_ =
        addCaptionButton(QStringLiteral("Help"), QStyle::SP_TitleBarContextHelpButton, 867);
    connect(helpButton_, &QToolButton::clicked, this, &MainWindow::PopHelpMenu);
    connect(addCaptionButton(QStringLiteral("Minimize"), QStyle::SP_TitleBarMinButton, 893),
            &QToolButton::clicked, this, &QWidget::showMinimized);
    connect(addCaptionButton(QStringLiteral("Close"), QStyle::SP_TitleBarCloseButton, 918),
            &QToolButton::clicked, this, &QWidget::close);

    TintCaptionIcons();

    // The Tab key walks the commands top to bottom, then the list, the link and the small
    // buttons.
    QList<QWidget*> chain(buttons_.begin(), buttons_.begin() + 4);
    chain << formatBox_ << buttons_[4] << buttons_[5] << list_ << homepageLink_;
    for (QToolButton* b : captionButtons_)
        chain << b;
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        setTabOrder(chain[i], chain[i + 1]);

    // The name of the program where a title of its own would be.
    auto* logo = new QLabel(this);
    logo->setPixmap(QIcon(QStringLiteral(":/icons/kestrune-32.png")).pixmap(32, 32));
    logo->setGeometry(11, 16, 32, 32);
    logo->setAccessibleName(QStringLiteral("Kestrune"));
    auto* name = new QLabel(QStringLiteral("Kestrune"), this);
    QFont nameFont = name->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
    name->setFont(nameFont);
    name->setGeometry(50, 16, 200, 32);

    // How the last run ended, above the list, until the next command.
    summaryLabel_ = new QLabel(this);
    summaryLabel_->setObjectName(QStringLiteral("summaryLabel"));
    summaryLabel_->setTextFormat(Qt::PlainText);
    summaryLabel_->setAccessibleName(QStringLiteral("Last conversion"));
    summaryLabel_->setGeometry(260, 38, 600, 22);
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayOut();
}

void MainWindow::LayOut() {
    // The commands keep their places; the list takes the room the window gained, and the
    // small buttons stay in the top right corner.
    const int w = width(), h = height();
    // The buttons keep their tops; they widen and heighten for labels that need it, and the
    // list starts beside them.
    int column = 107;
    for (QPushButton* button : buttons_) {
        // Room beside the label grows with a font above the 9 points laid out for.
        const double over = std::max(0.0, button->font().pointSizeF() - 9.0);
        const int room = 5 + static_cast<int>(std::lround(over * 1.5));
        column = std::max(
            column,
            button->fontMetrics().horizontalAdvance(QString(button->text()).remove(u'&')) + room);
    }
    // Top to bottom, each control at its own place unless the one above grew into it: then it
    // moves down, 12 pixels below (at the usual fonts every control stays at its place).
    struct Place {
        QWidget* widget;
        int top, height, width;
    };
    std::vector<Place> places;
    for (QPushButton* button : buttons_)
        places.push_back({button, button->property("homeTop").toInt(),
                          std::max(27, button->sizeHint().height()), column});
    places.push_back({formatBox_, 258, formatBox_->sizeHint().height(), column - 5});
    std::stable_sort(places.begin(), places.end(),
                     [](const Place& a, const Place& b) { return a.top < b.top; });
    int bottom = 0;
    for (const Place& place : places) {
        const int y = std::max(place.top, bottom + 12);
        place.widget->setGeometry(11, y, place.width, place.height);
        bottom = y + place.height;
    }
    homepageLink_->setGeometry(9, std::max(618, bottom + 20),
                               std::max(113, homepageLink_->sizeHint().width()),
                               std::max(20, homepageLink_->sizeHint().height()));
    // The link under the buttons may be the wider of the two at a large font.
    const int left = std::max(11 + column + 19, homepageLink_->geometry().right() + 9);
    list_->setGeometry(left, 63, w - left - 10, h - 75);
    summaryLabel_->setGeometry(260, 38, std::max(100, w - 350), 22);
    int x = w - 83;
    for (QToolButton* button : captionButtons_) {
        button->move(x, 11);
        x += button == captionButtons_.front() ? 26 : 25;
    }
}

void MainWindow::TintCaptionIcons() {
    // The style's title-bar glyphs are drawn dark whatever the theme: painted in the window's
    // text colour they show on a dark theme too.
    const QColor ink = palette().color(QPalette::WindowText);
    for (QToolButton* button : captionButtons_) {
        const auto which =
            static_cast<QStyle::StandardPixmap>(button->property("standardIcon").toInt());
        const qreal ratio = devicePixelRatioF();
        QPixmap glyph = style()->standardIcon(which).pixmap(button->iconSize(), ratio);
        QPainter painter(&glyph);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(glyph.rect(), ink);
        painter.end();
        button->setIcon(QIcon(glyph));
    }
}

void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        TintCaptionIcons();
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        LayOut();
}

QString MainWindow::SummaryLine() const {
    return summaryLabel_->text();
}

void MainWindow::OnConversionFinished() {
    const QString summary = runner_.Summary();
    summaryLabel_->setText(summary);
    // The user is elsewhere when no window of this program is active.
    if (QGuiApplication::applicationState() != Qt::ApplicationActive && !summary.isEmpty())
        services_.desktop.Notify(QStringLiteral("Kestrune"), summary);
}

void MainWindow::TellIfNotOpened(int result, const QString& what) {
    if (result == kOpenSucceeded)
        return;
    QString why = HyperlinkFailureText(result);
    if (what.isEmpty()) {
        // An address: told as the link tells it.
        services_.prompter.Warn(this, why);
        return;
    }
    why.remove(0, why.indexOf(u'\n') + 1);
    services_.prompter.Warn(this, QStringLiteral("Unable to open %1:\n%2").arg(what, why));
}

void MainWindow::RestoreLayout() {
    const ConvertSettings& s = config_.settings;
    // The window manager keeps a window that was left larger than this screen on it.
    const QSize wanted(std::max(s.windowWidth, kWidth), std::max(s.windowHeight, kHeight));
    const bool resizing = size() != wanted;
    setMinimumSize(kWidth, kHeight);
    if (resizing) {
        resize(wanted);
        if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    if (s.windowMaximized)
        setWindowState(windowState() | Qt::WindowMaximized);
    list_->SetColumnWidthsText(QString::fromStdString(s.listColumnWidths));
    list_->SetSort(s.listSortColumn - 1,
                   s.listSortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void MainWindow::SaveLayout() {
    ConvertSettings& s = config_.settings;
    // A maximised window keeps the size it goes back to.
    const QSize normal = isMaximized() || isFullScreen() ? normalGeometry().size() : size();
    if (normal.isValid()) {
        s.windowWidth = std::max(normal.width(), kWidth);
        s.windowHeight = std::max(normal.height(), kHeight);
    }
    s.windowMaximized = isMaximized();
    s.listColumnWidths = list_->ColumnWidthsText().toStdString();
    s.listSortColumn = list_->SortedColumn() + 1;
    s.listSortDescending = list_->SortOrder() == Qt::DescendingOrder;
}

void MainWindow::BuildMenus() {
    struct Item {
        const char* name;  // the object name
        const char* text;
        void (MainWindow::*command)();
    };
    const auto fill = [this](QMenu* menu, std::initializer_list<Item> items) {
        for (const Item& item : items) {
            if (!item.text) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromLatin1(item.text));
            action->setObjectName(QString::fromLatin1(item.name));
            connect(action, &QAction::triggered, this, item.command);
        }
    };
    constexpr Item separator{nullptr, nullptr, nullptr};
    listMenu_ = new QMenu(this);
    listMenu_->setObjectName(QStringLiteral("listMenu"));
    fill(listMenu_,
         {{"playSourceAction", "&Play Source", &MainWindow::PlaySource},
          {"playDestinationAction", "Play &Destination", &MainWindow::PlayDestination},
          separator,
          {"convertSelectedAction", "&Convert Selected", &MainWindow::ConvertSelected},
          {"convertAllAction", "Convert All", &MainWindow::ConvertAll},
          {"convertSelectedToOneAction", "Convert Selected to O&ne",
           &MainWindow::ConvertSelectedToOne},
          {"convertAllToOneAction", "Convert All to One", &MainWindow::ConvertAllToOne},
          separator,
          {"browseSourceFolderAction", "Browse &Source Folder", &MainWindow::BrowseSourceFolder},
          {"browseDestinationFolderAction", "Browse Destination &Folder",
           &MainWindow::BrowseDestinationFolder},
          separator,
          {"addFilesAction", "&Add Files...\tCtrl+O", &MainWindow::AddFiles},
          {"addFolderAction", "Add F&older", &MainWindow::AddFolder},
          {"removeAction", "&Remove\tDel", &MainWindow::Remove},
          {"removeAllAction", "Remove Al&l", &MainWindow::RemoveAll},
          separator,
          {"moveUpAction", "Move &Up\tCtrl+Up", &MainWindow::MoveUp},
          {"moveDownAction", "Move Do&wn\tCtrl+Down", &MainWindow::MoveDown}});
    helpMenu_ = new QMenu(this);
    helpMenu_->setObjectName(QStringLiteral("helpMenu"));
    fill(helpMenu_,
         {{"helpTopicsAction", "&Help Topics\tF1", &MainWindow::HelpTopics},
          separator,
          {"tellAFriendAction", "&Tell A Friend", &MainWindow::TellAFriend},
          {"feedbackAction", "&Feedback and Support", &MainWindow::FeedbackAndSupport},
          {"homepageAction", "Home&page", &MainWindow::Homepage},
          {"checkLatestVersionAction", "&Check Latest Version", &MainWindow::CheckLatestVersion},
          separator,
          {"aboutAction", "&About...", &MainWindow::About}});
    connect(listMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateMenuState);
    connect(helpMenu_, &QMenu::aboutToShow, this, &MainWindow::UpdateMenuState);

    // The accelerators work whatever the menus show; their commands check for themselves.
    const auto accelerator = [this](const QKeySequence& keys, void (MainWindow::*command)()) {
        auto* action = new QAction(this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, command);
        addAction(action);
    };
    accelerator(QKeySequence(Qt::CTRL | Qt::Key_A), &MainWindow::SelectAll);
    accelerator(QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::AddFiles);
    accelerator(QKeySequence(Qt::Key_Delete), &MainWindow::Remove);
    accelerator(QKeySequence(Qt::Key_F1), &MainWindow::HelpTopics);
    accelerator(QKeySequence(Qt::CTRL | Qt::Key_Up), &MainWindow::MoveUp);
    accelerator(QKeySequence(Qt::CTRL | Qt::Key_Down), &MainWindow::MoveDown);
    accelerator(QKeySequence(Qt::CTRL | Qt::Key_Q), &MainWindow::Quit);
    // The list's menu from the keyboard, wherever the focus is in the window.
    accelerator(QKeySequence(Qt::SHIFT | Qt::Key_F10), &MainWindow::PopListMenu);
    accelerator(QKeySequence(Qt::Key_Menu), &MainWindow::PopListMenu);
}

void MainWindow::PopListMenu() {
    emit listMenuShown();
    const QModelIndex current = list_->currentIndex();
    const QPoint at = current.isValid()
                          ? list_->viewport()->mapToGlobal(list_->visualRect(current).center())
                          : list_->mapToGlobal(list_->rect().center());
    listMenu_->popup(at);
}

void MainWindow::Quit() {
    close();
}

void MainWindow::MoveUp() {
    if (!Busy())
        list_->MoveSelected(-1);
}

void MainWindow::MoveDown() {
    if (!Busy())
        list_->MoveSelected(+1);
}

void MainWindow::Initialise() {
    if (!config_.soundFontLoaded && !services_.programFolder.empty())
        config_.LoadSoundFont();
    LoadSettings(services_.store, config_.settings, config_.tagOptions, config_.catalogue);

    setWindowTitle(QStringLiteral("Kestrune"));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/kestrune-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);

    RestoreLayout();

    InstallToolTipDelay();
    FillFormatBox();
    LayOut();
    setAcceptDrops(true);

    // On the very first start the manual opens, once the window itself is up.
    if (CheckFirstRun(services_.store))
        QTimer::singleShot(0, this, [this] { ShowHelp(true); });
}

void MainWindow::FillFormatBox() {
    const QSignalBlocker quiet(formatBox_);
    formatBox_->clear();
    for (const OutputFormatEntry& entry : config_.catalogue)
        formatBox_->addItem(QStringLiteral(" to ") + QString::fromStdString(entry.DisplayLabel()),
                            StoredValue(entry.formatId));
    formatBox_->addItem(QString::fromLatin1(kVideoItemText), kVideoItem);
    const int stored = formatBox_->findData(StoredValue(config_.settings.outputFormat));
    if (stored >= 0 && stored != formatBox_->count() - 1) {
        formatBox_->setCurrentIndex(stored);
        return;
    }
    // The stored format names no entry: the first one stands in, and is what gets saved.
    formatBox_->setCurrentIndex(0);
    OnFormatChosen(0);
}

void MainWindow::OnFormatChosen(int index) {
    if (index < 0) {
        config_.settings.outputFormat = FormatId::kMp3;
        return;
    }
    const int id = formatBox_->itemData(index).toInt();
    if (id != kVideoItem) {
        config_.settings.outputFormat = static_cast<FormatId>(id);
        return;
    }
    services_.prompter.Show(this, QString::fromLatin1(kVideoRefusal), Prompter::Icon::Information,
                            QMessageBox::Ok | QMessageBox::Cancel);
    const int previous = formatBox_->findData(StoredValue(config_.settings.outputFormat));
    const QSignalBlocker quiet(formatBox_);
    formatBox_->setCurrentIndex(previous >= 0 ? previous : 0);
}

void MainWindow::Shutdown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    if (HelpViewer* viewer = HelpViewer::Find())
        viewer->close();
    SaveLayout();
    listed_.clear();
    list_->clear();
    SaveSettings(services_.store, kSaveFormatAndPage | kSaveWindow, config_.settings,
                 config_.tagOptions, config_.catalogue);
    services_.store.Sync();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (Busy()) {
        // Stop what runs first; the window closes as soon as it has.
        closeWhenIdle_ = true;
        runner_.RequestCancel();
        if (adding_)
            adding_->Cancel();
        event->ignore();
        return;
    }
    Shutdown();
    event->accept();
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    // The window can be dragged by any empty spot, as by its title bar.
    if (event->button() == Qt::LeftButton && windowHandle()) {
        windowHandle()->startSystemMove();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls())
        for (const QUrl& url : event->mimeData()->urls())
            if (url.isLocalFile()) {
                event->acceptProposedAction();
                return;
            }
    event->ignore();
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (!DropUrls(event->mimeData()->urls())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

bool MainWindow::DropUrls(const QList<QUrl>& urls) {
    std::vector<std::string> paths;
    for (const QUrl& url : urls)
        if (url.isLocalFile())
            paths.push_back(LocalPathOf(url));
    if (paths.empty())
        return false;
    // The work starts once the drop is over, so the program the files came from is not kept
    // waiting while they are searched and probed.
    QTimer::singleShot(0, this, [this, paths] { AddDropped(paths); });
    return true;
}

CandidateFilter MainWindow::CurrentFilter() const {
    CandidateFilter filter;
    filter.skipHidden = config_.settings.doNotLoadHiddenFiles;
    filter.filterExtensions = config_.settings.enableExtFilter;
    filter.extensions = config_.settings.filterExtList;
    return filter;
}

// --- Adding and removing files -------------------------------------------------------------

void MainWindow::SetActivity(Activity activity) {
    const bool wasBusy = Busy();
    activity_ = activity;
    setEnabled(!Busy());
    if (Busy())
        summaryLabel_->clear();
    if (wasBusy == Busy())
        return;
    emit busyChanged(Busy());
    if (!Busy() && closeWhenIdle_)
        QTimer::singleShot(0, this, &QWidget::close);
}

int MainWindow::Workers() const {
    return std::clamp(config_.settings.simultaneousConversions, kMinSimultaneousConversions,
                      kMaxSimultaneousConversions);
}

AddingRun* MainWindow::StartAdding(std::unique_ptr<ProgressWindow> progress) {
    SetActivity(Activity::kAdding);
    addingReport_ = AddingReport{};
    addingReport_.sinceScroll.start();
    addingDetail_.clear();
    adding_ = new AddingRun(
        config_, Workers(), std::move(progress),
        [this](const std::vector<std::string>& paths) {
            // Windows Media files are read by the generic reader while their runtime is
            // missing: the user may fetch it first.
            if (ProbeNeedsWindowsMedia(config_, paths))
                AnswerProbeNeeds(prompts_);
        },
        [this](int number, int, const ProbedFile& file) { OnFileProbed(number, file); },
        [this](bool) { OnAddingFinished(); });
    return adding_;
}

void MainWindow::AddFileList(const std::vector<std::string>& paths) {
    if (Busy())
        return;
    StartAdding(std::make_unique<ProgressWindow>(this))->StartFiles(paths);
}

void MainWindow::OnFileProbed(int number, const ProbedFile& file) {
    AddingReport& report = addingReport_;
    bool ok = false;
    if (!IsRepresentable(file.path)) {
        report.unrepresentable = true;
    } else if (file.result.opened) {
        ok = true;
        for (size_t i = 0; i < file.rows.size(); ++i) {
            const std::string& key = file.rowKeys[i];
            if (listed_.count(key))
                continue;
            FileRow* row = list_->InsertFileRow(file.rows[i], /*scroll=*/false);
            row->SetListKey(key);
            listed_.emplace(key, row);
        }
    } else if (listed_.count(file.key)) {
        ok = true;  // listed already: nothing to add, nothing to report
    } else if (file.result.failure.reason != FailureReason::kNone) {
        // Each reason replaces the one before: the report ends with the last.
        addingDetail_ = FailureDetailText(file.result.failure);
    }
    if (!ok) {
        ++report.failed;
        if (report.failed <= 30)
            report.failures += Shown(file.path) + QStringLiteral("\n");
        else if (report.failed == 31)
            report.failures += QStringLiteral("<more files>...\n");
    }
    if (report.sinceScroll.elapsed() >= kScrollMilliseconds) {
        ScrollToLastRow();
        report.sinceScroll.restart();
    }
    emit fileAdded(number);
}

void MainWindow::OnAddingFinished() {
    adding_->deleteLater();
    adding_ = nullptr;
    // The rows come in as found; a list shown sorted is sorted again.
    list_->Resort();
    list_->FitValueColumns();
    ScrollToLastRow();
    SetActivity(Activity::kIdle);
    // The keys go back to the list, not to wherever the progress window left them.
    activateWindow();
    const AddingReport& report = addingReport_;
    if (report.failures.isEmpty())
        return;
    QString text = QStringLiteral("Failed to load the following files.\n\n") + report.failures;
    if (report.unrepresentable)
        text += QStringLiteral(
            "\nThere are non-English characters in filename of some files. Please remove the "
            "characters from filename and then try again.");
    else if (!addingDetail_.empty())
        text += QStringLiteral("\n") + QString::fromStdString(addingDetail_);
    else
        text += QStringLiteral("\nTo get help, please forward the failure files to ") +
                QString::fromLatin1(kSupportAddress) + QStringLiteral(".");
    services_.prompter.Warn(this, text);
}

void MainWindow::ScrollToLastRow() {
    if (list_->RowCount() > 0)
        list_->scrollToItem(list_->Row(list_->RowCount() - 1));
}

void MainWindow::AddFiles() {
    const QStringList files =
        services_.dialogs.OpenFiles(this, QString(), QString(), OpenFileFilters());
    if (files.isEmpty()) {
        const int code = services_.dialogs.LastOpenError();
        if (code != 0)
            services_.prompter.Warn(this,
                                    QStringLiteral("Failed to choose files. Error code: 0x%1.")
                                            .arg(QString::number(code, 16).toUpper()) +
                                        QStringLiteral("\n\nTo get help, please contact us at ") +
                                        QString::fromLatin1(kSupportAddress) +
                                        QStringLiteral(", and attach the error code above."));
        return;
    }
    WaitCursor wait;
    std::vector<std::string> paths;
    paths.reserve(static_cast<size_t>(files.size()));
    for (const QString& file : files)
        paths.push_back(PathBytes(file));
    AddFileList(paths);
}

void MainWindow::AddFolder() {
    QString start = QString::fromStdString(config_.settings.folder);
    while (start.size() > 1 && start.endsWith(u'/'))
        start.chop(1);
    const QString chosen =
        services_.dialogs.ChooseFolder(this, QStringLiteral("Please choose a folder:"), start);
    if (chosen.isEmpty())
        return;
    std::string folder = PathBytes(chosen);
    if (folder.back() != '/')
        folder += '/';
    config_.settings.folder = folder;
    SaveSettings(services_.store, kSaveFolder, config_.settings, config_.tagOptions,
                 config_.catalogue);
    AddDropped({folder});
}

void MainWindow::AddDropped(const std::vector<std::string>& dropped) {
    if (Busy())
        return;
    auto progress = std::make_unique<ProgressWindow>(this);
    progress->SetText(QStringLiteral("Searching files..."));
    StartAdding(std::move(progress))->StartDrop(dropped, CurrentFilter());
}

void MainWindow::Remove() {
    summaryLabel_->clear();
    const std::vector<FileRow*> rows = list_->SelectedRows();
    if (rows.empty()) {
        services_.prompter.Inform(this, QStringLiteral("You should select a file at least."));
        return;
    }
    for (FileRow* row : rows) {
        listed_.erase(row->ListKey());
        delete row;
    }
}

void MainWindow::RemoveAll() {
    summaryLabel_->clear();
    if (list_->RowCount() == 0)
        return;
    listed_.clear();
    list_->clear();
}

void MainWindow::SelectAll() {
    list_->SelectAllRows();
}

// --- Converting ----------------------------------------------------------------------------

void MainWindow::RunConversion(bool selectedOnly, bool toOne) {
    if (Busy())
        return;
    std::vector<FileRow*> rows;
    if (selectedOnly) {
        rows = list_->SelectedRows();
        if (rows.empty()) {
            services_.prompter.Inform(this, QStringLiteral("You should select a file at least."));
            return;
        }
    } else {
        if (list_->RowCount() == 0) {
            services_.prompter.Inform(this, QStringLiteral("There aren't files in list."));
            return;
        }
        for (int i = 0; i < list_->RowCount(); ++i)
            rows.push_back(list_->Row(i));
    }
    const int index = formatBox_->currentIndex();
    if (index < 0)
        return;
    const OutputFormatEntry* format = FindOutputFormat(
        config_.catalogue, static_cast<FormatId>(formatBox_->itemData(index).toInt()));
    if (!format)
        return;
    RunRequest request;
    for (FileRow* row : rows)
        request.items.push_back(row->Entry());
    request.format = *format;
    if (!AnswerRunNeeds(CheckRunNeeds(config_, request.items, *format), config_.programFolder,
                        prompts_))
        return;
    std::string target = format->DisplayLabel();
    if (toOne) {
        // The save dialog's one filter, "MP3 File (*.mp3)": a name typed without an extension
        // gets the format's.
        const QString extension = QString::fromLatin1(format->extension);
        QString path = services_.dialogs.SaveFile(
            this, QString(), QString(),
            {QString::fromStdString(MergeFilterText(format->extension))});
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix().isEmpty())
            path += QStringLiteral(".") + extension;
        request.mergePath = QFile::encodeName(path).toStdString();
        target = FileNameOf(request.mergePath);
    }
    request.workers = toOne ? 1 : Workers();
    SetActivity(Activity::kConverting);
    runner_.Start(config_, std::move(request), std::move(rows), target);
}

void MainWindow::ConvertAll() {
    RunConversion(false, false);
}

void MainWindow::ConvertSelected() {
    RunConversion(true, false);
}

void MainWindow::ConvertAllToOne() {
    RunConversion(false, true);
}

void MainWindow::ConvertSelectedToOne() {
    RunConversion(true, true);
}

// --- Row commands, help and links ----------------------------------------------------------

FileRow* MainWindow::FirstSelectedRow() const {
    const std::vector<FileRow*> rows = list_->SelectedRows();
    return rows.empty() ? nullptr : rows.front();
}

void MainWindow::PlaySource() {
    if (FileRow* row = FirstSelectedRow()) {
        WaitCursor wait;
        TellIfNotOpened(OpenPath(services_.desktop, Shown(row->Entry().path)),
                        Shown(row->Entry().path));
    }
}

void MainWindow::PlayDestination() {
    FileRow* row = FirstSelectedRow();
    if (!row || row->Entry().outputPath.empty())
        return;
    WaitCursor wait;
    TellIfNotOpened(OpenPath(services_.desktop, Shown(row->Entry().outputPath)),
                    Shown(row->Entry().outputPath));
}

void MainWindow::BrowseSourceFolder() {
    if (FileRow* row = FirstSelectedRow()) {
        WaitCursor wait;
        if (!services_.desktop.ShowInFileManager(Shown(row->Entry().path)))
            TellIfNotOpened(kOpenNoAssociation, Shown(row->Entry().path));
    }
}

void MainWindow::BrowseDestinationFolder() {
    FileRow* row = FirstSelectedRow();
    if (row && !row->Entry().outputPath.empty()) {
        WaitCursor wait;
        if (!services_.desktop.ShowInFileManager(Shown(row->Entry().outputPath)))
            TellIfNotOpened(kOpenNoAssociation, Shown(row->Entry().outputPath));
    }
}

void MainWindow::UpdateMenuState() {
    const std::vector<FileRow*> selected = list_->SelectedRows();
    const bool one = selected.size() == 1;
    const bool oneConverted = one && !selected.front()->Entry().outputPath.empty();
    const bool any = !selected.empty();
    const bool rows = list_->RowCount() > 0;
    const std::pair<const char*, bool> states[] = {
        {"playSourceAction", one},
        {"browseSourceFolderAction", one},
        {"playDestinationAction", oneConverted},
        {"browseDestinationFolderAction", oneConverted},
        {"convertSelectedAction", any},
        {"convertSelectedToOneAction", any},
        {"removeAction", any},
        {"convertAllAction", rows},
        {"convertAllToOneAction", rows},
        {"removeAllAction", rows},
        {"moveUpAction", any},
        {"moveDownAction", any},
    };
    for (const auto& [name, enabled] : states)
        if (auto* action = listMenu_->findChild<QAction*>(QString::fromLatin1(name)))
            action->setEnabled(enabled);
}

void MainWindow::ShowHelp(bool maximised) {
    WaitCursor wait;
    if (HelpViewer* viewer = HelpViewer::Find()) {
        if (viewer->isMinimized())
            viewer->showNormal();
        viewer->raise();
        viewer->activateWindow();
        return;
    }
    const QString index = HelpViewer::ManualIndex(QString::fromStdString(services_.programFolder));
    if (index.isEmpty())
        return;
    auto* viewer = new HelpViewer(index, services_.desktop, services_.prompter);
    if (maximised)
        viewer->showMaximized();
    else
        viewer->show();
}

void MainWindow::HelpTopics() {
    ShowHelp(false);
}

void MainWindow::TellAFriend() {
    int result = kOpenSucceeded;
    {
        WaitCursor wait;
        result = OpenInBrowser(
            services_.desktop,
            QStringLiteral("mailto:?subject=Kestrune - very COOL application!!!&body=Download "
                           "from ") +
                QString::fromLatin1(kHomePageUrl));
    }
    TellIfNotOpened(result, QString());
}

void MainWindow::FeedbackAndSupport() {
    int result = kOpenSucceeded;
    {
        WaitCursor wait;
        result = OpenInBrowser(services_.desktop,
                               QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress));
    }
    TellIfNotOpened(result, QString());
}

void MainWindow::Homepage() {
    int result = kOpenSucceeded;
    {
        WaitCursor wait;
        result = OpenInBrowser(services_.desktop, QString::fromLatin1(kHomePageUrl));
    }
    TellIfNotOpened(result, QString());
}

void MainWindow::CheckLatestVersion() {
    int result = kOpenSucceeded;
    {
        WaitCursor wait;
        result = OpenInBrowser(services_.desktop, QString::fromLatin1(kUpdateCheckUrl));
    }
    TellIfNotOpened(result, QString());
}

void MainWindow::About() {
    AboutBox box(
        this, [this](const QString& address) { return OpenInBrowser(services_.desktop, address); },
        services_.prompter, [this] { CheckLatestVersion(); }, [this] { TellAFriend(); });
    box.exec();
}

void MainWindow::Options() {
    ShowOptions(this, config_.settings, config_.tagOptions, config_.catalogue, services_.store,
                windowsMedia_, services_.prompter, services_.dialogs, services_.desktop);
}

void MainWindow::PopHelpMenu() {
    helpMenu_->popup(helpButton_->mapToGlobal(QPoint(0, helpButton_->height())));
}

}  // namespace kestrune
