#pragma once

#include <QDialog>
#include <functional>

class QPushButton;

namespace kestrune {

class HyperLink;
class Prompter;

// "About": the program's name and version, a link to the home page and one to support, OK,
// "&Check Updates" and "Tell a Friend".
class AboutBox : public QDialog {
    Q_OBJECT
public:
    using Opener = std::function<int(const QString& address)>;
    // opener opens the links' addresses; checkUpdates and tellAFriend are the main window's
    // commands of the same names.
    AboutBox(QWidget* owner, Opener opener, Prompter& prompter, std::function<void()> checkUpdates,
             std::function<void()> tellAFriend);

    HyperLink* HomepageLink() const { return homepage_; }
    HyperLink* SupportLink() const { return support_; }
    QPushButton* CheckUpdatesButton() const { return checkUpdates_; }
    QPushButton* TellAFriendButton() const { return tellAFriend_; }

    static QString TitleLine();

private:
    HyperLink* homepage_;
    HyperLink* support_;
    QPushButton* checkUpdates_;
    QPushButton* tellAFriend_;
};

}  // namespace kestrune
