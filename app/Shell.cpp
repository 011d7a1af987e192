#include "app/Shell.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "platform/CodePage.h"

namespace lanqi {

namespace {

QString LocalPath(const std::string& path) {
  return QString::fromStdString(AnsiToUtf8(path));
}

void OpenFolderOf(const QString& file) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

}  // namespace

void TDesktopShell::OpenDocument(const std::string& path) {
  if (path.empty()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(LocalPath(path)));
}

void TDesktopShell::ShowInFileManager(const std::string& path) {
  if (path.empty()) return;
  QString file = LocalPath(path);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    OpenFolderOf(file);
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
  call << QStringList{QUrl::fromLocalFile(file).toString()} << QString();
  // Asynchronous, so a file manager that is slow to start does not freeze the window.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), QCoreApplication::instance());
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [file](QDBusPendingCallWatcher* w) {
    if (w->isError()) OpenFolderOf(file);
    w->deleteLater();
  });
}

}  // namespace lanqi
