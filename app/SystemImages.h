// ImgSys: the main window's small icons for the tree and the list. Index 0 is the folder icon; every
// other index is the icon of one MIME type, added the first time a file of that type asks.
#pragma once

#include <QIcon>
#include <QString>
#include <map>
#include <string>
#include <vector>

namespace lanqi {

class TSystemImages {
 public:
  TSystemImages();

  // The index for a path (code-page text): 0 for a folder, else its type's icon. A missing file is
  // typed by its name; so is a path the code page cannot read (as a plain file).
  int SystemIconIndex(const std::string& path);
  int Count() const { return static_cast<int>(icons_.size()); }
  // The icon at index (a null icon outside the list).
  QIcon Icon(int index) const;

 private:
  std::vector<QIcon> icons_;
  std::map<QString, int> byType_;
};

}  // namespace lanqi
