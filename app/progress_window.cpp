#include "app/progress_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace kestrune {

ProgressWindow::ProgressWindow(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle(QStringLiteral("Kestrune"));
    setModal(false);
    text_ = new QLabel(this);
    text_->setTextFormat(Qt::PlainText);
    // Long file names are cut, not allowed to widen the window.
    text_->setMinimumWidth(360);
    text_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 0);
    bar_->setTextVisible(false);
    bar_->setAccessibleName(QStringLiteral("Progress"));
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelRequested_ = true; });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignHCenter);
    setFixedSize(400, sizeHint().height());
}

void ProgressWindow::SetText(const QString& text) {
    text_->setText(text);
}

void ProgressWindow::SetRange(int maximum) {
    bar_->setRange(0, maximum);
    bar_->setValue(0);
}

void ProgressWindow::Step() {
    if (bar_->value() < bar_->maximum())
        bar_->setValue(bar_->value() + 1);
}

int ProgressWindow::Position() const {
    return bar_->value();
}

QString ProgressWindow::Text() const {
    return text_->text();
}

void ProgressWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (centred_ || !parentWidget())
        return;
    centred_ = true;
    const QRect owner = parentWidget()->window()->frameGeometry();
    move(owner.center() - rect().center());
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    // Enter and Escape must neither cancel nor close the window.
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    cancelRequested_ = true;
    event->ignore();
}

}  // namespace kestrune
