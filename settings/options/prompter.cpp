#include "settings/options/prompter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>

namespace kestrune {

QMessageBox::StandardButton QtPrompter::Show(QWidget* parent, const QString& text, Icon icon,
                                             QMessageBox::StandardButtons buttons) {
  QMessageBox::Icon boxIcon = QMessageBox::Information;
  switch (icon) {
    case Icon::Information: boxIcon = QMessageBox::Information; break;
    case Icon::Warning: boxIcon = QMessageBox::Warning; break;
    case Icon::Error: boxIcon = QMessageBox::Critical; break;
    case Icon::Question: boxIcon = QMessageBox::Question; break;
  }
  QMessageBox box(boxIcon, QStringLiteral("Kestrune"), text, buttons, parent);
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

QStringList QtFileDialogs::OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                                     const QStringList& filters) {
  QFileDialog dialog(parent, caption, folder);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.setNameFilters(filters);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

QString QtFileDialogs::SaveFile(QWidget* parent, const QString& caption, const QString& suggestedPath,
                                const QStringList& filters) {
  QFileDialog dialog(parent, caption);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilters(filters);
  dialog.selectFile(suggestedPath);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString QtFileDialogs::ChooseFolder(QWidget* parent, const QString& caption, const QString& folder) {
  return QFileDialog::getExistingDirectory(parent, caption, folder);
}

bool QtDesktop::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool QtDesktop::ShowInFileManager(const QString& path) {
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
  QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
  if (reply.type() == QDBusMessage::ReplyMessage) return true;
  // No file manager answers on the bus: open the folder instead.
  return OpenUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

}  // namespace kestrune
