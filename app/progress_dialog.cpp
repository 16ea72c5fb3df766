#include "app/progress_dialog.h"

#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

namespace kestrune {

namespace {

QLabel* MakeLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    // A long name is cut rather than widening the window.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    return label;
}

QProgressBar* MakeBar(QWidget* parent, const QString& name) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setFixedHeight(20);
    bar->setAccessibleName(name);
    return bar;
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setWindowTitle(QStringLiteral("Kestrune"));
    setModal(false);
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setFrameShadow(QFrame::Raised);

    fileLabel_ = MakeLabel(frame);
    fileBar_ = MakeBar(frame, QStringLiteral("File progress"));
    overallLabel_ = MakeLabel(frame);
    overallBar_ = MakeBar(frame, QStringLiteral("Overall progress"));
    timeLabel_ = MakeLabel(frame);
    timeLabel_->setObjectName(QStringLiteral("timeLabel"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), frame);
    cancel_->setAutoDefault(false);
    cancel_->setFixedWidth(90);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelRequested_ = true; });

    auto* inner = new QVBoxLayout(frame);
    inner->setContentsMargins(12, 10, 12, 10);
    inner->setSpacing(4);
    inner->addWidget(fileLabel_);
    inner->addWidget(fileBar_);
    inner->addSpacing(8);
    inner->addWidget(overallLabel_);
    inner->addWidget(overallBar_);
    inner->addWidget(timeLabel_);
    inner->addSpacing(4);
    inner->addWidget(cancel_, 0, Qt::AlignHCenter);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);
    // As tall as the texts need at the desktop's font size.
    setFixedSize(627, std::max(190, sizeHint().height()));
    cancel_->setFocus();
}

void ProgressDialog::SetFileLabel(const QString& text) {
    fileLabel_->setText(text);
}

void ProgressDialog::SetFileProgress(int value, int maximum) {
    if (fileBar_->maximum() != maximum)
        fileBar_->setRange(0, maximum);
    fileBar_->setValue(std::min(value, maximum));
}

void ProgressDialog::SetOverallLabel(const QString& text) {
    overallLabel_->setText(text);
}

void ProgressDialog::SetOverallProgress(int value, int maximum) {
    if (overallBar_->maximum() != maximum)
        overallBar_->setRange(0, maximum);
    overallBar_->setValue(std::min(value, maximum));
}

int ProgressDialog::FileBarWidth() const {
    return std::max(1, fileBar_->width());
}

void ProgressDialog::SetTimeLabel(const QString& text) {
    timeLabel_->setText(text);
}

QString ProgressDialog::TimeLabel() const {
    return timeLabel_->text();
}

QString ProgressDialog::FileLabel() const {
    return fileLabel_->text();
}

QString ProgressDialog::OverallLabel() const {
    return overallLabel_->text();
}

void ProgressDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (parentWidget())
        move(parentWidget()->window()->frameGeometry().center() - rect().center());
}

void ProgressDialog::keyPressEvent(QKeyEvent* event) {
    // Escape stands for Cancel; Enter does nothing (the run must not end by accident).
    if (event->key() == Qt::Key_Escape) {
        cancelRequested_ = true;
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
    // The run closes the dialog when it ends; a close from outside asks it to stop.
    cancelRequested_ = true;
    event->ignore();
}

}  // namespace kestrune
