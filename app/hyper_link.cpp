#include "app/hyper_link.h"

#include <algorithm>
#include <cmath>

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

namespace {

double Linear(int channel) {
    const double v = channel / 255.0;
    return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

double Luminance(const QColor& c) {
    const QColor rgb = c.toRgb();
    return 0.2126 * Linear(rgb.red()) + 0.7152 * Linear(rgb.green()) + 0.0722 * Linear(rgb.blue());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
    const double x = Luminance(a), y = Luminance(b);
    return (std::max(x, y) + 0.05) / (std::min(x, y) + 0.05);
}

QColor ReadableOn(const QColor& colour, const QColor& background) {
    constexpr double kWanted = 4.5;
    if (ContrastRatio(colour, background) >= kWanted)
        return colour;
    // Towards whichever end gives the background more contrast.
    const QColor end = ContrastRatio(Qt::white, background) > ContrastRatio(Qt::black, background)
                           ? QColor(Qt::white)
                           : QColor(Qt::black);
    const QColor from = colour.toRgb();
    QColor mixed = from;
    for (int step = 1; step <= 20 && ContrastRatio(mixed, background) < kWanted; ++step) {
        const double t = step / 20.0;
        mixed =
            QColor::fromRgbF(static_cast<float>(from.redF() + (end.redF() - from.redF()) * t),
                             static_cast<float>(from.greenF() + (end.greenF() - from.greenF()) * t),
                             static_cast<float>(from.blueF() + (end.blueF() - from.blueF()) * t));
    }
    return mixed;
}

QColor HyperLink::ShownColour() const {
    return ReadableOn(CurrentColour(), palette().color(QPalette::Window));
}

void HyperLink::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    // Another theme: the colour is chosen again for its background.
    if (event->type() == QEvent::StyleChange ||
        (event->type() == QEvent::PaletteChange && !restyling_))
        Restyle();
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
    p.setColor(QPalette::WindowText, ShownColour());
    restyling_ = true;
    setPalette(p);
    restyling_ = false;
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
