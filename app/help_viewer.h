#pragma once

#include <QWidget>

class QTextBrowser;
class QToolButton;

namespace kestrune {

class Desktop;
class Prompter;

// The manual in a window of its own, titled "Kestrune Help". Links between its pages stay in
// the window; web and mail addresses go to the desktop.
class HelpViewer : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kTitle = "Kestrune Help";

    // Shows the manual whose first page is indexPage.
    // An address that does not open is told through prompter.
    HelpViewer(const QString& indexPage, Desktop& desktop, Prompter& prompter);

    // The manual's first page beside the program, or empty when it is not there.
    static QString ManualIndex(const QString& programFolder);
    // The open viewer of this program, or null.
    static HelpViewer* Find();

    QTextBrowser* Browser() const { return browser_; }

private:
    QTextBrowser* browser_;
    QToolButton* back_;
    QToolButton* forward_;
    QToolButton* home_;
    Desktop& desktop_;
    Prompter& prompter_;
};

}  // namespace kestrune
