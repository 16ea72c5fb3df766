#include "app/about_box.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/hyper_link.h"
#include "common/version.h"
#include "engine/web_addresses.h"

namespace kestrune {

QString AboutBox::TitleLine() {
    return QStringLiteral("Kestrune v" KESTRUNE_VERSION " build " KESTRUNE_BUILD_NUMBER);
}

AboutBox::AboutBox(QWidget* owner, Opener opener, Prompter& prompter,
                   std::function<void()> checkUpdates, std::function<void()> tellAFriend)
    : QDialog(owner) {
    setWindowTitle(QStringLiteral("About"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(QApplication::windowIcon().pixmap(64, 64));
    icon->setAccessibleName(QStringLiteral("Kestrune"));
    auto* title = new QLabel(TitleLine(), this);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    title->setFont(titleFont);

    homepage_ = new HyperLink(QStringLiteral("Visit %1 Homepage").arg(QStringLiteral("Kestrune")),
                              opener, prompter, this);
    homepage_->SetAddress(QString::fromLatin1(kHomePageUrl));
    homepage_->SetUnderline(HyperLink::kUnderlineAlways);
    support_ = new HyperLink(QStringLiteral("Feedback and Support"), opener, prompter, this);
    support_->SetAddress(QStringLiteral("mailto:") + QString::fromLatin1(kSupportAddress));
    support_->SetUnderline(HyperLink::kUnderlineAlways);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    checkUpdates_ = new QPushButton(QStringLiteral("&Check Updates"), this);
    tellAFriend_ = new QPushButton(QStringLiteral("Tell a Friend"), this);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(checkUpdates_, &QPushButton::clicked, this, [checkUpdates] {
        if (checkUpdates)
            checkUpdates();
    });
    connect(tellAFriend_, &QPushButton::clicked, this, [tellAFriend] {
        if (tellAFriend)
            tellAFriend();
    });

    auto* text = new QVBoxLayout;
    text->addWidget(title);
    text->addSpacing(6);
    text->addWidget(homepage_, 0, Qt::AlignLeft);
    text->addWidget(support_, 0, Qt::AlignLeft);
    text->addStretch();
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addSpacing(12);
    top->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(checkUpdates_);
    buttons->addWidget(tellAFriend_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(10);
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(380, 150)));
    ok->setFocus();
}

}  // namespace kestrune
