#include "cli/cli_host.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <cstdio>
#include <iostream>

namespace kestrune::cli {

CliHost::CliHost(Answer answer) : answer_(answer), tty_(isatty(STDERR_FILENO) != 0) {}

void CliHost::SetFileLabel(const std::string& text) {
    file_ = text;
    Draw();
}

void CliHost::SetOverallLabel(const std::string& text) {
    overall_ = text;
    Draw();
}

void CliHost::Draw() {
    if (!tty_ || quiet_)
        return;
    std::string line = overall_.empty() ? file_ : overall_ + "  " + file_;
    if (line.size() > 200)
        line.resize(200);
    std::string out = "\r" + line;
    if (drawn_ > line.size())
        out += std::string(drawn_ - line.size(), ' ');
    drawn_ = line.size();
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
}

void CliHost::ClearLine() {
    if (!tty_ || drawn_ == 0)
        return;
    std::fprintf(stderr, "\r%s\r", std::string(drawn_, ' ').c_str());
    std::fflush(stderr);
    drawn_ = 0;
}

bool CliHost::AskYesNo(const std::string& text) {
    if (answer_ == Answer::kYes)
        return true;
    if (answer_ == Answer::kNo)
        return false;
    if (!isatty(STDIN_FILENO) || !tty_)
        return false;
    ClearLine();
    std::cerr << text << "\n[y/N] " << std::flush;
    std::string reply;
    if (!std::getline(std::cin, reply))
        return false;
    return !reply.empty() && (reply[0] == 'y' || reply[0] == 'Y');
}

void CliHost::ShowWarning(const std::string& text) {
    ClearLine();
    std::cerr << "kestrune-cli: " << text << "\n";
}

void CliHost::OpenInBrowser(const std::string& url) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(url)});
}

void CliHost::ShowInFileManager(const std::string& path) {
    // The desktop's file manager shows the file selected; without one, open its folder.
    const QString uri = QUrl::fromLocalFile(QString::fromStdString(path)).toString();
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        OpenFolder(QFileInfo(QString::fromStdString(path)).absolutePath().toStdString());
}

void CliHost::OpenFolder(const std::string& path) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(path)});
}

std::string CliHost::DocumentsFolderPath() const {
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdString();
}

}  // namespace kestrune::cli
