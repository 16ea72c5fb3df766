#include "desktop/prompter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>

namespace kestrune {

QMessageBox::StandardButton QtPrompter::Show(QWidget* parent, const QString& text, Icon icon,
                                             QMessageBox::StandardButtons buttons) {
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    switch (icon) {
        case Icon::Information:
            boxIcon = QMessageBox::Information;
            break;
        case Icon::Warning:
            boxIcon = QMessageBox::Warning;
            break;
        case Icon::Error:
            boxIcon = QMessageBox::Critical;
            break;
        case Icon::Question:
            boxIcon = QMessageBox::Question;
            break;
    }
    QMessageBox box(boxIcon, QStringLiteral("Kestrune"), text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

namespace {

// Filters arrive as "Label (*.a;*.b)". The dialog separates patterns with spaces, so each gets
// a second, hidden pattern list that it can read, while the label shows as written; "*.*"
// stands for every file, with or without a dot in its name.
QStringList DialogFilters(const QStringList& filters) {
    QStringList converted;
    for (const QString& filter : filters) {
        const int open = filter.lastIndexOf(u'(');
        const int close = filter.lastIndexOf(u')');
        if (open < 0 || close < open) {
            converted << filter;
            continue;
        }
        QStringList patterns =
            filter.mid(open + 1, close - open - 1).split(u';', Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
            if (pattern == QStringLiteral("*.*"))
                pattern = QStringLiteral("*");
        }
        converted << filter + QStringLiteral(" (") + patterns.join(u' ') + QStringLiteral(")");
    }
    return converted;
}

}  // namespace

QStringList QtFileDialogs::OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                                     const QStringList& filters) {
    lastOpenError_ = 0;
    if (!QGuiApplication::primaryScreen()) {
        lastOpenError_ = 2;  // no screen to show the dialog on
        return {};
    }
    QFileDialog dialog(parent, caption, folder);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(DialogFilters(filters));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtFileDialogs::SaveFile(QWidget* parent, const QString& caption,
                                const QString& suggestedPath, const QStringList& filters) {
    QFileDialog dialog(parent, caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(filters);
    dialog.selectFile(suggestedPath);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

QString QtFileDialogs::ChooseFolder(QWidget* parent, const QString& caption,
                                    const QString& folder) {
    return QFileDialog::getExistingDirectory(parent, caption, folder);
}

bool QtDesktop::OpenUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool QtDesktop::ShowInFileManager(const QString& path) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    // No file manager answers on the bus: open the folder instead.
    return OpenUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void QtDesktop::Notify(const QString& title, const QString& text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // Application name, no notification to replace, the program's icon, summary, body, no
    // actions, no hints, the server's default time-out.
    call << QStringLiteral("Kestrune") << 0u << QStringLiteral("kestrune") << title << text
         << QStringList() << QVariantMap() << -1;
    // Nobody waits for the answer: without a notification service the call simply fails.
    bus.send(call);
}

QStringList HtmlHandlerCommand(const QString& execLine, const QString& address) {
    QString command = execLine.trimmed();
    if (command.isEmpty())
        return {};
    // Cut before the field that stands for the address: a quoted one takes its quote along.
    static const char* const kFields[] = {"%u", "%U", "%f", "%F"};
    int cut = -1;
    for (const char* field : kFields) {
        const QString quoted = QStringLiteral("\"") + QLatin1String(field) + QStringLiteral("\"");
        const int at = command.indexOf(quoted);
        if (at >= 0 && (cut < 0 || at < cut))
            cut = at;
    }
    if (cut < 0) {
        for (const char* field : kFields) {
            const int at = command.indexOf(QLatin1String(field));
            if (at >= 0 && (cut < 0 || at < cut))
                cut = at;
        }
    }
    if (cut >= 0)
        command = command.left(cut);
    // Other field codes stand for nothing here.
    static const char* const kOthers[] = {"%i", "%c", "%k", "%d", "%D", "%n", "%N", "%v", "%m"};
    for (const char* field : kOthers)
        command.remove(QLatin1String(field));
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return {};
    words << address;
    return words;
}

namespace {

// The Exec line of the desktop entry of the default handler for HTML pages, or empty.
QString HtmlHandlerExecLine() {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForFinished(5000) || query.exitCode() != 0)
        return {};
    const QString entry = QString::fromUtf8(query.readAllStandardOutput()).trimmed();
    if (entry.isEmpty())
        return {};
    const QString path = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entry);
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
        } else if (inMainGroup && line.startsWith(QStringLiteral("Exec="))) {
            return line.mid(5);
        }
    }
    return {};
}

}  // namespace

bool QtDesktop::OpenWithHtmlHandler(const QString& address) {
    const QStringList command = HtmlHandlerCommand(HtmlHandlerExecLine(), address);
    if (command.isEmpty())
        return false;
    return QProcess::startDetached(command.front(), command.mid(1));
}

}  // namespace kestrune
