// TCatalogTreeModel: the main window's tree over the catalog as ReadTree gives it (areas in table
// order; under each area its files, the file added last first, then its tracked folders; under each
// file its versions, the newest first). Nothing is made per node: the view asks for the rows it
// shows, and their texts and icons are read from the catalog's vectors when it does.
//
// A search narrows the rows the model offers (a reset); rows added or removed while it is on stay
// shown or go as the window's own edits do, without a reset.
#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/VersionCatalog.h"

namespace lanqi {

class TSystemImages;

class TCatalogTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  enum class TKind { None, Area, File, Folder, Version };
  static constexpr int kTextRole = Qt::UserRole;        // the node's code-page bytes (QByteArray)
  static constexpr int kFileNoRole = Qt::UserRole + 1;  // a file node's file number
  static constexpr int kMatchRole = Qt::UserRole + 2;   // the node holds the search text
  static constexpr int kKindRole = Qt::UserRole + 3;    // the node's TKind (int)

  // Where a node sits in the catalog's vectors; it outlives resets of the model (a search, a
  // rebuild of the same tree) but not edits that remove rows before it.
  struct TPlace {
    TKind Kind = TKind::None;
    int Area = -1;
    int File = -1;  // the file's position in its area's Files
    int Item = -1;  // a version's position in Versions, a folder's in Folders
    bool operator==(const TPlace&) const = default;
  };

  explicit TCatalogTreeModel(QObject* parent = nullptr);

  // The icons: index 0 of images for areas and folders, a file's type for the file and the versions
  // the catalog held when the tree was read; index 0 for the nodes added since (as they are drawn
  // until the next load); protectedIcon for a protected version. Null images: no icons.
  void SetImages(TSystemImages* images, QIcon protectedIcon);

  // Shows tree (a reset; the search ends).
  void SetTree(std::vector<TCatalogArea> tree);
  const std::vector<TCatalogArea>& Tree() const { return areas_; }
  // True when tree holds what the model shows: the same areas, files, folders, versions and marks.
  bool Shows(const std::vector<TCatalogArea>& tree) const;

  // ---- nodes
  static TKind Kind(const QModelIndex& index);
  TPlace PlaceOf(const QModelIndex& index) const;
  // The node at place while the search shows it; invalid otherwise.
  QModelIndex IndexOf(const TPlace& place) const;
  // The file node's entry (a version's: its file's); null for other nodes.
  const TCatalogFile* FileOf(const QModelIndex& index) const;

  // ---- the window's edits, shown at once (also while a search is on, unmarked)
  // Each returns the new node's place; a node under one the search hides stays hidden with it.
  TPlace AddArea(TCatalogArea area);                           // the last area
  TPlace AddFile(int area, TCatalogFile file);                 // the area's first file
  TPlace AddVersion(const TPlace& file, std::string version);  // the file's first version
  // Removes a file (with its versions), a version or a folder.
  void Remove(const TPlace& place);
  // The file with that number (the first with that path when fileNo is 0 or not found), in the
  // order the tree shows them; Kind None when there is none.
  TPlace FindFile(const std::string& path, int32_t fileNo = 0) const;
  // The file with that number, in the order the tree shows them.
  TPlace FindFileNo(int32_t fileNo) const;

  // ---- search: holds says whether a text (as shown) holds the search text; noteHolds whether the
  // note of a version (file number, version text) does. Areas, files and folders show when they or
  // their area match or something below them matches; versions when they or their file or area
  // match. Matching nodes are marked (bold, highlighted).
  void Search(const std::function<bool(const QString&)>& holds,
              const std::function<bool(int32_t, const std::string&)>& noteHolds);
  void ClearSearch();
  bool Searching() const { return filtered_; }

  // ---- QAbstractItemModel
  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 private:
  // The position of a version row's file in the catalog's vectors, by a key that stays while the
  // file is shown (rows of other files removed before it move its position, not its key).
  struct TSlot {
    int Area = -1;
    int File = -1;
  };
  // The rows a search lets through, in the order they show (positions).
  struct TShownArea {
    std::vector<int> Files;    // newest file first
    std::vector<int> Folders;  // in table order
  };

  void ForgetSearch();  // every row shown again, no match marked
  void Rebuild();       // keys for every file, no search
  uint32_t NewKey(int area, int file);
  const std::string& TextAt(const TPlace& place) const;
  int AreaRows() const;
  int AreaPos(int row) const;
  int AreaRow(int pos) const;
  int FileRows(int area) const;  // files and folders
  TPlace ChildPlace(int area, int row) const;
  int FileRow(int area, int file) const;
  int FolderRow(int area, int folder) const;
  int VersionRows(uint32_t key) const;
  int VersionPos(uint32_t key, int row) const;
  int VersionRow(uint32_t key, int pos) const;
  uint32_t KeyOf(int area, int file) const { return keys_[area][file]; }
  bool Matches(const TPlace& place) const;
  QIcon FileIcon(uint32_t key) const;

  std::vector<TCatalogArea> areas_;
  std::vector<std::vector<uint32_t>> keys_;  // by area and file position
  std::vector<TSlot> slots_;                 // by key; key 0 is never used
  mutable std::vector<int> images_;          // by key: the file's icon index, -1 not yet asked
  std::vector<int> loadedVersions_;          // by key: the versions (the first ones) read with the tree
  TSystemImages* imageList_ = nullptr;
  QIcon protectedIcon_;

  bool filtered_ = false;
  std::vector<int> shownAreas_;
  std::vector<TShownArea> shownFiles_;                            // by area
  std::unordered_map<uint32_t, std::vector<int>> shownVersions_;  // by key, newest first
  std::vector<char> areaMatch_;
  std::unordered_map<uint32_t, char> fileMatch_;
  std::unordered_map<uint32_t, std::vector<char>> versionMatch_;  // by key, by position
  std::vector<std::vector<char>> folderMatch_;                    // by area, by position
};

}  // namespace lanqi
