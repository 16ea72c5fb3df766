#include "app/help_viewer.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QStyle>
#include <QTextBrowser>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/desktop_links.h"
#include "desktop/prompter.h"

namespace kestrune {

HelpViewer::HelpViewer(const QString& indexPage, Desktop& desktop, Prompter& prompter)
    : QWidget(nullptr, Qt::Window), desktop_(desktop), prompter_(prompter) {
    setWindowTitle(QString::fromLatin1(kTitle));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowIcon(QApplication::windowIcon());
    resize(820, 620);
    // Escape closes the help, as it does a dialog.
    auto* closeAction = new QAction(this);
    closeAction->setObjectName(QStringLiteral("closeHelpAction"));
    closeAction->setShortcut(QKeySequence(Qt::Key_Escape));
    closeAction->setShortcutContext(Qt::WindowShortcut);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    addAction(closeAction);

    const auto makeButton = [this](const QString& text, QStyle::StandardPixmap icon) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setToolTip(QString(text).remove(u'&'));
        button->setAccessibleName(QString(text).remove(u'&'));
        button->setIcon(style()->standardIcon(icon));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        return button;
    };
    back_ = makeButton(QStringLiteral("&Back"), QStyle::SP_ArrowBack);
    forward_ = makeButton(QStringLiteral("F&orward"), QStyle::SP_ArrowForward);
    home_ = makeButton(QStringLiteral("&Contents"), QStyle::SP_DirHomeIcon);

    browser_ = new QTextBrowser(this);
    browser_->setOpenLinks(false);
    browser_->setAccessibleName(QString::fromLatin1(kTitle));
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.isLocalFile() || url.isRelative() || url.scheme() == QStringLiteral("qrc"))
            browser_->setSource(browser_->source().resolved(url));
        else if (!desktop_.OpenUrl(url))
            prompter_.Warn(this, HyperlinkFailureText(kOpenNoAssociation));
    });
    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(home_, &QToolButton::clicked, browser_, &QTextBrowser::home);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QToolButton::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QToolButton::setEnabled);
    back_->setEnabled(false);
    forward_->setEnabled(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(back_);
    buttons->addWidget(forward_);
    buttons->addWidget(home_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(browser_);

    browser_->setSource(QUrl::fromLocalFile(indexPage));
    browser_->setFocus();
}

QString HelpViewer::ManualIndex(const QString& programFolder) {
    if (programFolder.isEmpty())
        return {};
    const QFileInfo index(programFolder + QStringLiteral("manual/index.html"));
    return index.isFile() ? index.absoluteFilePath() : QString();
}

HelpViewer* HelpViewer::Find() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* viewer = qobject_cast<HelpViewer*>(w);
            viewer && viewer->isVisible() && viewer->windowTitle() == QLatin1String(kTitle))
            return viewer;
    return nullptr;
}

}  // namespace kestrune
