#pragma once

// How the window looks under another palette and a larger font: a scope that sets them for the
// whole application, and a check of every text shown in a widget.

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QStringList>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace kestrune::test {

using namespace Qt::StringLiterals;

// The contrast ratio of two colours (1 to 21) as the accessibility guidelines define it.
inline double ContrastOf(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& c) {
        auto channel = [](double v) {
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The dark palette people give the Fusion style.
inline QPalette DarkFusionPalette() {
    QPalette p;
    const QColor window(53, 53, 53), base(42, 42, 42), text(Qt::white);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, text);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window);
        p.setColor(group, QPalette::Text, text);
        p.setColor(group, QPalette::Button, window);
        p.setColor(group, QPalette::ButtonText, text);
        p.setColor(group, QPalette::BrightText, Qt::red);
        p.setColor(group, QPalette::Link, QColor(42, 130, 218));
        p.setColor(group, QPalette::Highlight, QColor(42, 130, 218));
        p.setColor(group, QPalette::HighlightedText, Qt::black);
        p.setColor(group, QPalette::ToolTipBase, base);
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::PlaceholderText, QColor(160, 160, 160));
    }
    p.setColor(QPalette::Disabled, QPalette::Window, window);
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    p.setColor(QPalette::Disabled, QPalette::Button, window);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    return p;
}

// The Fusion style with the light or the dark palette, and the font scaled, until the scope
// ends.
class LooksScope {
public:
    LooksScope(bool dark, double fontScale)
        : style_(QApplication::style()->name()),
          palette_(QApplication::palette()),
          font_(QApplication::font()) {
        QApplication::setStyle(QStyleFactory::create(u"Fusion"_s));
        QApplication::setPalette(dark ? DarkFusionPalette()
                                      : QApplication::style()->standardPalette());
        QFont scaled = font_;
        scaled.setPointSizeF(font_.pointSizeF() * fontScale);
        QApplication::setFont(scaled);
    }
    ~LooksScope() {
        QApplication::setStyle(QStyleFactory::create(style_));
        QApplication::setPalette(palette_);
        QApplication::setFont(font_);
    }
    LooksScope(const LooksScope&) = delete;
    LooksScope& operator=(const LooksScope&) = delete;

private:
    const QString style_;
    const QPalette palette_;
    const QFont font_;
};

// Every label and button shown in root whose text is drawn too faint on its background (below
// 4.5:1) or cut off (narrower than it asks to be). Disabled controls are meant to be faint.
inline QStringList ReadabilityFaults(QWidget* root) {
    QStringList faults;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        auto* label = qobject_cast<QLabel*>(w);
        auto* button = qobject_cast<QAbstractButton*>(w);
        if (!w->isVisible() || !w->isEnabled() || (!label && !button))
            continue;
        const QString text = label ? label->text() : button->text();
        if (text.isEmpty())
            continue;
        const QString name =
            QString::fromLatin1(w->metaObject()->className()) + u" \""_s + text.left(40) + u'"';
        const QPalette& p = w->palette();
        const double contrast =
            ContrastOf(p.color(w->foregroundRole()), p.color(w->backgroundRole()));
        if (contrast < 4.5)
            faults << name + u" has contrast "_s + QString::number(contrast, 'f', 2);
        // A button's text must fit inside its frame; a label must have the room it asks for.
        const bool cut =
            button ? w->width() < w->fontMetrics().horizontalAdvance(QString(text).remove(u'&')) + 4
                   : !label->wordWrap() && w->minimumWidth() != w->maximumWidth() &&
                         w->width() < w->sizeHint().width();
        if (cut)
            faults << name + u" is cut off"_s;
    }
    return faults;
}

}  // namespace kestrune::test
