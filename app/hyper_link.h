#pragma once

#include <QColor>
#include <QLabel>
#include <QTimer>
#include <functional>

namespace kestrune {

class Prompter;

// The contrast ratio of two colours, from 1 to 21, as accessibility guidelines measure it.
double ContrastRatio(const QColor& a, const QColor& b);
// colour, or colour moved towards white (on a dark background) or black (on a light one) just
// far enough to be read on background at a contrast of at least 4.5:1.
QColor ReadableOn(const QColor& colour, const QColor& background);

// A text that behaves as a link: blue, red while the mouse is over it, purple once it opened
// its address; a click (or Enter or Space when it has the focus) opens the address.
class HyperLink : public QLabel {
    Q_OBJECT
public:
    // Opens an address; the result is above 32 when it worked (see desktop_links.h).
    using Opener = std::function<int(const QString& address)>;
    enum Underline { kUnderlineNever = 0, kUnderlineAlways = 1, kUnderlineHover = -1 };

    HyperLink(const QString& text, Opener opener, Prompter& prompter, QWidget* parent = nullptr);

    // The address a click opens; empty: the text is the address.
    void SetAddress(const QString& address);
    QString Address() const;
    void SetUnderline(int mode);
    // Resize to the text whenever text, address or font change (on by default).
    void SetAdjustToText(bool adjust);

    bool IsHovering() const { return hovering_; }
    bool IsVisited() const { return visited_; }
    QColor CurrentColour() const;
    // CurrentColour as drawn: made readable on the window's background (a dark theme's too).
    QColor ShownColour() const;

    static constexpr QColor kLinkColour{0, 0, 238};
    static constexpr QColor kVisitedColour{85, 26, 139};
    static constexpr QColor kHoverColour{255, 0, 0};

    // Opens the address as a click does.
    void Activate();

signals:
    void opened();

protected:
    void enterEvent(QEnterEvent* event) override;
    void changeEvent(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void SetHovering(bool hovering);
    void Restyle();
    void Adjust();
    void CheckPointer();

    Opener opener_;
    Prompter& prompter_;
    QString address_;
    int underline_ = kUnderlineHover;
    bool adjustToText_ = true;
    bool hovering_ = false;
    bool visited_ = false;
    bool restyling_ = false;  // its own palette change, not a theme's
    QTimer hoverTimer_;
};

}  // namespace kestrune
