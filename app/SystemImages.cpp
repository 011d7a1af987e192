#include "app/SystemImages.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>

#include "platform/CodePage.h"
#include "rtl/Exceptions.h"

namespace lanqi {

TSystemImages::TSystemImages() {
  icons_.push_back(QFileIconProvider().icon(QFileIconProvider::Folder));
}

int TSystemImages::SystemIconIndex(const std::string& path) {
  QString file;
  try {
    file = QString::fromStdString(AnsiToUtf8(path));
  } catch (const EConvertError&) {
    // A name the code page cannot read still gets an icon: the plain file's.
    file.clear();
  }
  QFileInfo info(file);
  if (info.isDir()) return 0;
  QMimeDatabase db;
  QMimeType type =
      info.exists() ? db.mimeTypeForFile(info) : db.mimeTypeForFile(file, QMimeDatabase::MatchExtension);
  auto it = byType_.find(type.name());
  if (it != byType_.end()) return it->second;
  QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
  if (icon.isNull()) icon = QFileIconProvider().icon(QFileIconProvider::File);
  int index = Count();
  icons_.push_back(icon);
  byType_.emplace(type.name(), index);
  return index;
}

QIcon TSystemImages::Icon(int index) const {
  if (index < 0 || index >= Count()) return QIcon();
  return icons_[static_cast<size_t>(index)];
}

}  // namespace lanqi
