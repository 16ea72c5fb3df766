#include "app/hyper_link.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "app/desktop_links.h"
#include "desktop/prompter.h"

namespace kestrune {

HyperLink::HyperLink(const QString& text, Opener opener, Prompter& prompter, QWidget* parent)
    : QLabel(text, parent), opener_(std::move(opener)), prompter_(prompter) {
    setTextFormat(Qt::PlainText);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
    setAccessibleName(text);
    hoverTimer_.setInterval(100);
    connect(&hoverTimer_, &QTimer::timeout, this, &HyperLink::CheckPointer);
    Restyle();
    setToolTip(Address());
}

void HyperLink::SetAddress(const QString& address) {
    address_ = address;
    setToolTip(Address());
    Adjust();
}

QString HyperLink::Address() const {
    return address_.isEmpty() ? text() : address_;
}

void HyperLink::SetUnderline(int mode) {
    underline_ = mode;
    Restyle();
}

void HyperLink::SetAdjustToText(bool adjust) {
    adjustToText_ = adjust;
    Adjust();
}

QColor HyperLink::CurrentColour() const {
    if (hovering_)
        return kHoverColour;
    return visited_ ? kVisitedColour : kLinkColour;
}

void HyperLink::Activate() {
    SetHovering(false);
    const int result = opener_ ? opener_(Address()) : kOpenNoAssociation;
    if (result > 32) {
        visited_ = true;
        Restyle();
        emit opened();
        return;
    }
    QApplication::beep();
    prompter_.Warn(window(), HyperlinkFailureText(result));
}

void HyperLink::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    SetHovering(true);
    hoverTimer_.start();
}

void HyperLink::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    CheckPointer();
}

void HyperLink::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Activate();
        event->accept();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void HyperLink::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
        event->key() == Qt::Key_Space) {
        Activate();
        event->accept();
        return;
    }
    QLabel::keyPressEvent(event);
}

void HyperLink::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    // Keyboard users see where they are.
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect option;
    option.initFrom(this);
    option.backgroundColor = palette().color(QPalette::Window);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

void HyperLink::SetHovering(bool hovering) {
    if (hovering_ == hovering)
        return;
    hovering_ = hovering;
    if (!hovering)
        hoverTimer_.stop();
    Restyle();
}

// The pointer left when it is no longer over the link; the timer asks every 100 ms, so the
// colour comes back even when no leave event arrives.
void HyperLink::CheckPointer() {
    if (!rect().contains(mapFromGlobal(QCursor::pos())) || !underMouse())
        SetHovering(false);
}

void HyperLink::Restyle() {
    QFont f = font();
    f.setUnderline(underline_ == kUnderlineAlways || (underline_ == kUnderlineHover && hovering_));
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, CurrentColour());
    setPalette(p);
    Adjust();
    update();
}

void HyperLink::Adjust() {
    if (!adjustToText_)
        return;
    // Inside a layout the layout places it; it only tells its new size.
    if (parentWidget() && parentWidget()->layout()) {
        updateGeometry();
        return;
    }
    QFont underlined = font();
    underlined.setUnderline(true);
    const QSize extent = QFontMetrics(underlined).size(Qt::TextSingleLine, text());
    const QRect old = geometry();
    QRect next(old.topLeft(), QSize(extent.width() + 2, std::max(old.height(), extent.height())));
    if (alignment() & Qt::AlignHCenter)
        next.moveCenter(QPoint(old.center().x(), next.center().y()));
    else if (alignment() & Qt::AlignRight)
        next.moveRight(old.right());
    if (next != old)
        setGeometry(next);
}

}  // namespace kestrune
