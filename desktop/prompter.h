#pragma once
// The window's ways of asking the user something: message boxes, file and folder dialogs and
// the desktop (opening files and addresses, showing a file in the file manager). Every widget
// of the program reaches them through these interfaces, so tests can answer in place of a user.

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace kestrune {

// Message boxes, always captioned "Kestrune".
class Prompter {
public:
    enum class Icon { Information, Warning, Error, Question };
    virtual ~Prompter() = default;
    // Shows text with the icon and buttons; returns the button pressed.
    virtual QMessageBox::StandardButton Show(QWidget* parent, const QString& text, Icon icon,
                                             QMessageBox::StandardButtons buttons) = 0;

    void Inform(QWidget* parent, const QString& text) {
        Show(parent, text, Icon::Information, QMessageBox::Ok);
    }
    void Warn(QWidget* parent, const QString& text) {
        Show(parent, text, Icon::Warning, QMessageBox::Ok);
    }
    void Fail(QWidget* parent, const QString& text) {
        Show(parent, text, Icon::Error, QMessageBox::Ok);
    }
    bool AskYesNo(QWidget* parent, const QString& text) {
        return Show(parent, text, Icon::Question, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    }
};

// Open, save and folder dialogs. An empty result means the user cancelled.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    virtual QStringList OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                                  const QStringList& filters) = 0;
    virtual QString SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                             const QStringList& filters) = 0;
    virtual QString ChooseFolder(QWidget* parent, const QString& caption,
                                 const QString& folder) = 0;
    // Why the last OpenFiles gave nothing: 0 when the user cancelled, else a code of the dialog.
    virtual int LastOpenError() const { return 0; }
};

// The desktop's handlers.
class Desktop {
public:
    virtual ~Desktop() = default;
    virtual bool OpenUrl(const QUrl& url) = 0;  // files, folders, web and mailto addresses
    virtual bool ShowInFileManager(
        const QString& path) = 0;  // selects the file in the file manager
    // Starts the desktop's handler for HTML pages with address; false when there is none.
    virtual bool OpenWithHtmlHandler(const QString& address) {
        (void)address;
        return false;
    }
    // A desktop notification; nothing where no notification service runs.
    virtual void Notify(const QString& title, const QString& text) {
        (void)title;
        (void)text;
    }
};

// The command that the desktop's handler for HTML pages runs for address, program first: its
// Exec line cut before the first field code that stands for the address (a quoted field with
// its opening quote), then the address as one argument. Empty for an empty Exec line.
QStringList HtmlHandlerCommand(const QString& execLine, const QString& address);

// The real thing: QMessageBox, QFileDialog, QDesktopServices and the freedesktop file manager.
class QtPrompter : public Prompter {
public:
    QMessageBox::StandardButton Show(QWidget* parent, const QString& text, Icon icon,
                                     QMessageBox::StandardButtons buttons) override;
};

class QtFileDialogs : public FileDialogs {
public:
    QStringList OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                          const QStringList& filters) override;
    QString SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                     const QStringList& filters) override;
    QString ChooseFolder(QWidget* parent, const QString& caption, const QString& folder) override;
    int LastOpenError() const override { return lastOpenError_; }

private:
    int lastOpenError_ = 0;
};

class QtDesktop : public Desktop {
public:
    bool OpenUrl(const QUrl& url) override;
    bool ShowInFileManager(const QString& path) override;
    bool OpenWithHtmlHandler(const QString& address) override;
    void Notify(const QString& title, const QString& text) override;
};

}  // namespace kestrune
