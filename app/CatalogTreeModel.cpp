#include "app/CatalogTreeModel.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <algorithm>

#include "app/SystemImages.h"
#include "app/uver.h"

namespace lanqi {

namespace {

// Index ids: 0 for an area; (area << 1) | 1 for a row under an area (a file or a folder); key << 1
// for a version of the file with that key (keys start at 1, so the id is never 0).
constexpr quintptr kUnderArea = 1;

quintptr UnderArea(int area) {
  return (static_cast<quintptr>(area) << 1) | kUnderArea;
}

// The row of pos in a list of positions kept in descending order; -1 when absent.
int RowInDescending(const std::vector<int>& list, int pos) {
  auto it = std::lower_bound(list.begin(), list.end(), pos, std::greater<int>());
  return it != list.end() && *it == pos ? static_cast<int>(it - list.begin()) : -1;
}

int RowInAscending(const std::vector<int>& list, int pos) {
  auto it = std::lower_bound(list.begin(), list.end(), pos);
  return it != list.end() && *it == pos ? static_cast<int>(it - list.begin()) : -1;
}

// Drops pos from a list of positions and moves the ones after it down by one, as the vector they
// point into did.
void DropPosition(std::vector<int>& list, int pos) {
  list.erase(std::remove(list.begin(), list.end(), pos), list.end());
  for (int& p : list)
    if (p > pos) --p;
}

std::vector<int> Descending(size_t n) {
  std::vector<int> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<int>(n - 1 - i);
  return out;
}

std::vector<int> Ascending(size_t n) {
  std::vector<int> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<int>(i);
  return out;
}

}  // namespace

TCatalogTreeModel::TCatalogTreeModel(QObject* parent) : QAbstractItemModel(parent) {
  slots_.resize(1);
}

void TCatalogTreeModel::SetImages(TSystemImages* images, QIcon protectedIcon) {
  imageList_ = images;
  protectedIcon_ = std::move(protectedIcon);
}

void TCatalogTreeModel::SetTree(std::vector<TCatalogArea> tree) {
  beginResetModel();
  areas_ = std::move(tree);
  Rebuild();
  endResetModel();
}

void TCatalogTreeModel::ForgetSearch() {
  filtered_ = false;
  shownAreas_.clear();
  shownFiles_.clear();
  shownVersions_.clear();
  areaMatch_.clear();
  fileMatch_.clear();
  versionMatch_.clear();
  folderMatch_.clear();
}

void TCatalogTreeModel::Rebuild() {
  ForgetSearch();
  keys_.assign(areas_.size(), {});
  slots_.assign(1, TSlot{});
  images_.assign(1, -1);
  loadedVersions_.assign(1, 0);
  for (size_t a = 0; a < areas_.size(); ++a) {
    keys_[a].reserve(areas_[a].Files.size());
    for (size_t f = 0; f < areas_[a].Files.size(); ++f) {
      keys_[a].push_back(NewKey(static_cast<int>(a), static_cast<int>(f)));
      loadedVersions_.back() = static_cast<int>(areas_[a].Files[f].Versions.size());
    }
  }
}

uint32_t TCatalogTreeModel::NewKey(int area, int file) {
  slots_.push_back(TSlot{area, file});
  images_.push_back(-1);
  loadedVersions_.push_back(0);
  return static_cast<uint32_t>(slots_.size() - 1);
}

bool TCatalogTreeModel::Shows(const std::vector<TCatalogArea>& tree) const {
  if (tree.size() != areas_.size()) return false;
  for (size_t a = 0; a < tree.size(); ++a) {
    const TCatalogArea& x = tree[a];
    const TCatalogArea& y = areas_[a];
    if (x.Name != y.Name || x.Files.size() != y.Files.size() || x.Folders.size() != y.Folders.size())
      return false;
    for (size_t f = 0; f < x.Files.size(); ++f) {
      const TCatalogFile& p = x.Files[f];
      const TCatalogFile& q = y.Files[f];
      if (p.FileNo != q.FileNo || p.Path != q.Path || p.Versions != q.Versions) return false;
      // An absent mark and a false one read the same.
      for (size_t v = 0; v < p.Versions.size(); ++v) {
        bool pm = v < p.Protected.size() && p.Protected[v];
        bool qm = v < q.Protected.size() && q.Protected[v];
        if (pm != qm) return false;
      }
    }
    for (size_t k = 0; k < x.Folders.size(); ++k)
      if (x.Folders[k].FolderNo != y.Folders[k].FolderNo || x.Folders[k].Path != y.Folders[k].Path)
        return false;
  }
  return true;
}

// ---- rows and positions

int TCatalogTreeModel::AreaRows() const {
  return static_cast<int>(filtered_ ? shownAreas_.size() : areas_.size());
}

int TCatalogTreeModel::AreaPos(int row) const {
  return filtered_ ? shownAreas_[row] : row;
}

int TCatalogTreeModel::AreaRow(int pos) const {
  return filtered_ ? RowInAscending(shownAreas_, pos) : pos;
}

int TCatalogTreeModel::FileRows(int area) const {
  if (filtered_) return static_cast<int>(shownFiles_[area].Files.size() + shownFiles_[area].Folders.size());
  return static_cast<int>(areas_[area].Files.size() + areas_[area].Folders.size());
}

TCatalogTreeModel::TPlace TCatalogTreeModel::ChildPlace(int area, int row) const {
  const TCatalogArea& a = areas_[area];
  int files = static_cast<int>(filtered_ ? shownFiles_[area].Files.size() : a.Files.size());
  if (row < files) {
    int pos = filtered_ ? shownFiles_[area].Files[row] : files - 1 - row;
    return TPlace{TKind::File, area, pos, -1};
  }
  int k = row - files;
  return TPlace{TKind::Folder, area, -1, filtered_ ? shownFiles_[area].Folders[k] : k};
}

int TCatalogTreeModel::FileRow(int area, int file) const {
  if (filtered_) return RowInDescending(shownFiles_[area].Files, file);
  return static_cast<int>(areas_[area].Files.size()) - 1 - file;
}

int TCatalogTreeModel::FolderRow(int area, int folder) const {
  if (!filtered_) return static_cast<int>(areas_[area].Files.size()) + folder;
  int k = RowInAscending(shownFiles_[area].Folders, folder);
  return k < 0 ? -1 : static_cast<int>(shownFiles_[area].Files.size()) + k;
}

int TCatalogTreeModel::VersionRows(uint32_t key) const {
  if (filtered_) {
    auto it = shownVersions_.find(key);
    return it == shownVersions_.end() ? 0 : static_cast<int>(it->second.size());
  }
  const TSlot& s = slots_[key];
  return static_cast<int>(areas_[s.Area].Files[s.File].Versions.size());
}

int TCatalogTreeModel::VersionPos(uint32_t key, int row) const {
  if (filtered_) return shownVersions_.at(key)[row];
  return VersionRows(key) - 1 - row;
}

int TCatalogTreeModel::VersionRow(uint32_t key, int pos) const {
  if (filtered_) {
    auto it = shownVersions_.find(key);
    return it == shownVersions_.end() ? -1 : RowInDescending(it->second, pos);
  }
  return VersionRows(key) - 1 - pos;
}

// ---- nodes

TCatalogTreeModel::TKind TCatalogTreeModel::Kind(const QModelIndex& index) {
  return index.isValid() ? static_cast<TKind>(index.data(kKindRole).toInt()) : TKind::None;
}

TCatalogTreeModel::TPlace TCatalogTreeModel::PlaceOf(const QModelIndex& index) const {
  if (!index.isValid() || index.model() != this) return {};
  quintptr id = index.internalId();
  if (id == 0) return TPlace{TKind::Area, AreaPos(index.row()), -1, -1};
  if (id & kUnderArea) return ChildPlace(static_cast<int>(id >> 1), index.row());
  uint32_t key = static_cast<uint32_t>(id >> 1);
  const TSlot& s = slots_[key];
  return TPlace{TKind::Version, s.Area, s.File, VersionPos(key, index.row())};
}

QModelIndex TCatalogTreeModel::IndexOf(const TPlace& place) const {
  if (place.Kind == TKind::None || place.Area < 0 || place.Area >= static_cast<int>(areas_.size())) return {};
  const TCatalogArea& a = areas_[place.Area];
  int areaRow = AreaRow(place.Area);
  if (areaRow < 0) return {};
  if (place.Kind == TKind::Area) return createIndex(areaRow, 0, quintptr(0));
  if (place.Kind == TKind::Folder) {
    if (place.Item < 0 || place.Item >= static_cast<int>(a.Folders.size())) return {};
    int row = FolderRow(place.Area, place.Item);
    return row < 0 ? QModelIndex() : createIndex(row, 0, UnderArea(place.Area));
  }
  if (place.File < 0 || place.File >= static_cast<int>(a.Files.size())) return {};
  int fileRow = FileRow(place.Area, place.File);
  if (fileRow < 0) return {};
  if (place.Kind == TKind::File) return createIndex(fileRow, 0, UnderArea(place.Area));
  if (place.Item < 0 || place.Item >= static_cast<int>(a.Files[place.File].Versions.size())) return {};
  uint32_t key = KeyOf(place.Area, place.File);
  int row = VersionRow(key, place.Item);
  return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<quintptr>(key) << 1);
}

const TCatalogFile* TCatalogTreeModel::FileOf(const QModelIndex& index) const {
  TPlace p = PlaceOf(index);
  if (p.Kind != TKind::File && p.Kind != TKind::Version) return nullptr;
  return &areas_[p.Area].Files[p.File];
}

const std::string& TCatalogTreeModel::TextAt(const TPlace& p) const {
  const TCatalogArea& a = areas_[p.Area];
  switch (p.Kind) {
    case TKind::File:
      return a.Files[p.File].Path;
    case TKind::Version:
      return a.Files[p.File].Versions[p.Item];
    case TKind::Folder:
      return a.Folders[p.Item].Path;
    default:
      return a.Name;
  }
}

bool TCatalogTreeModel::Matches(const TPlace& p) const {
  if (!filtered_) return false;
  switch (p.Kind) {
    case TKind::Area:
      return p.Area < static_cast<int>(areaMatch_.size()) && areaMatch_[p.Area];
    case TKind::File:
      return fileMatch_.count(KeyOf(p.Area, p.File)) > 0;
    case TKind::Version: {
      auto it = versionMatch_.find(KeyOf(p.Area, p.File));
      return it != versionMatch_.end() && p.Item < static_cast<int>(it->second.size()) && it->second[p.Item];
    }
    case TKind::Folder: {
      const std::vector<char>& m = folderMatch_[p.Area];
      return p.Item < static_cast<int>(m.size()) && m[p.Item];
    }
    default:
      return false;
  }
}

QIcon TCatalogTreeModel::FileIcon(uint32_t key) const {
  // The type of a file is looked up once, when its node is first drawn.
  if (images_[key] < 0) {
    const TSlot& s = slots_[key];
    images_[key] = imageList_->SystemIconIndex(areas_[s.Area].Files[s.File].Path);
  }
  return imageList_->Icon(images_[key]);
}

// ---- the window's edits

TCatalogTreeModel::TPlace TCatalogTreeModel::AddArea(TCatalogArea area) {
  const int pos = static_cast<int>(areas_.size());
  const int row = AreaRows();
  beginInsertRows(QModelIndex(), row, row);
  areas_.push_back(std::move(area));
  const TCatalogArea& a = areas_.back();
  keys_.emplace_back();
  for (size_t f = 0; f < a.Files.size(); ++f) {
    keys_.back().push_back(NewKey(pos, static_cast<int>(f)));
    images_.back() = 0;
  }
  if (filtered_) {
    shownAreas_.push_back(pos);
    shownFiles_.push_back(TShownArea{Descending(a.Files.size()), Ascending(a.Folders.size())});
    for (size_t f = 0; f < a.Files.size(); ++f)
      shownVersions_[keys_.back()[f]] = Descending(a.Files[f].Versions.size());
    areaMatch_.push_back(0);
    folderMatch_.emplace_back();
  }
  endInsertRows();
  return TPlace{TKind::Area, pos, -1, -1};
}

TCatalogTreeModel::TPlace TCatalogTreeModel::AddFile(int area, TCatalogFile file) {
  if (area < 0 || area >= static_cast<int>(areas_.size())) return {};
  TCatalogArea& a = areas_[area];
  const int pos = static_cast<int>(a.Files.size());
  // Rows are announced only under a node the view can have.
  const QModelIndex parent = IndexOf(TPlace{TKind::Area, area, -1, -1});
  if (parent.isValid()) beginInsertRows(parent, 0, 0);
  a.Files.push_back(std::move(file));
  uint32_t key = NewKey(area, pos);
  images_[key] = 0;
  keys_[area].push_back(key);
  if (filtered_) {
    shownFiles_[area].Files.insert(shownFiles_[area].Files.begin(), pos);
    shownVersions_[key] = Descending(a.Files.back().Versions.size());
  }
  if (parent.isValid()) endInsertRows();
  return TPlace{TKind::File, area, pos, -1};
}

TCatalogTreeModel::TPlace TCatalogTreeModel::AddVersion(const TPlace& file, std::string version) {
  if (file.Kind != TKind::File || file.Area < 0 || file.Area >= static_cast<int>(areas_.size()) ||
      file.File < 0 || file.File >= static_cast<int>(areas_[file.Area].Files.size()))
    return {};
  TCatalogFile& f = areas_[file.Area].Files[file.File];
  const int pos = static_cast<int>(f.Versions.size());
  const QModelIndex parent = IndexOf(file);
  if (parent.isValid()) beginInsertRows(parent, 0, 0);
  f.Versions.push_back(std::move(version));
  if (!f.Protected.empty()) f.Protected.resize(f.Versions.size(), false);
  if (filtered_) {
    std::vector<int>& shown = shownVersions_[KeyOf(file.Area, file.File)];
    shown.insert(shown.begin(), pos);
  }
  if (parent.isValid()) endInsertRows();
  return TPlace{TKind::Version, file.Area, file.File, pos};
}

void TCatalogTreeModel::Remove(const TPlace& p) {
  if (p.Kind == TKind::None || p.Kind == TKind::Area || p.Area < 0 ||
      p.Area >= static_cast<int>(areas_.size()))
    return;
  TCatalogArea& a = areas_[p.Area];
  if (p.Kind == TKind::Folder ? p.Item < 0 || p.Item >= static_cast<int>(a.Folders.size())
                              : p.File < 0 || p.File >= static_cast<int>(a.Files.size()))
    return;
  if (p.Kind == TKind::Version && (p.Item < 0 || p.Item >= static_cast<int>(a.Files[p.File].Versions.size())))
    return;
  const QModelIndex node = IndexOf(p);
  if (node.isValid()) beginRemoveRows(node.parent(), node.row(), node.row());
  if (p.Kind == TKind::File) {
    uint32_t key = KeyOf(p.Area, p.File);
    a.Files.erase(a.Files.begin() + p.File);
    std::vector<uint32_t>& keys = keys_[p.Area];
    keys.erase(keys.begin() + p.File);
    for (size_t f = p.File; f < keys.size(); ++f) slots_[keys[f]].File = static_cast<int>(f);
    slots_[key] = TSlot{};
    if (filtered_) {
      DropPosition(shownFiles_[p.Area].Files, p.File);
      shownVersions_.erase(key);
      fileMatch_.erase(key);
      versionMatch_.erase(key);
    }
  } else if (p.Kind == TKind::Version) {
    TCatalogFile& f = a.Files[p.File];
    f.Versions.erase(f.Versions.begin() + p.Item);
    int& loaded = loadedVersions_[KeyOf(p.Area, p.File)];
    if (p.Item < loaded) --loaded;
    if (p.Item < static_cast<int>(f.Protected.size())) f.Protected.erase(f.Protected.begin() + p.Item);
    if (filtered_) {
      uint32_t key = KeyOf(p.Area, p.File);
      DropPosition(shownVersions_[key], p.Item);
      auto m = versionMatch_.find(key);
      if (m != versionMatch_.end() && p.Item < static_cast<int>(m->second.size()))
        m->second.erase(m->second.begin() + p.Item);
    }
  } else {
    a.Folders.erase(a.Folders.begin() + p.Item);
    if (filtered_) {
      DropPosition(shownFiles_[p.Area].Folders, p.Item);
      std::vector<char>& m = folderMatch_[p.Area];
      if (p.Item < static_cast<int>(m.size())) m.erase(m.begin() + p.Item);
    }
  }
  if (node.isValid()) endRemoveRows();
}

TCatalogTreeModel::TPlace TCatalogTreeModel::FindFile(const std::string& path, int32_t fileNo) const {
  TPlace first;
  for (size_t a = 0; a < areas_.size(); ++a) {
    const std::vector<TCatalogFile>& files = areas_[a].Files;
    for (size_t f = files.size(); f-- > 0;) {
      if (files[f].Path != path) continue;
      TPlace p{TKind::File, static_cast<int>(a), static_cast<int>(f), -1};
      if (fileNo == 0 || files[f].FileNo == fileNo) return p;
      if (first.Kind == TKind::None) first = p;
    }
  }
  return first;
}

TCatalogTreeModel::TPlace TCatalogTreeModel::FindFileNo(int32_t fileNo) const {
  for (size_t a = 0; a < areas_.size(); ++a) {
    const std::vector<TCatalogFile>& files = areas_[a].Files;
    for (size_t f = files.size(); f-- > 0;)
      if (files[f].FileNo == fileNo) return TPlace{TKind::File, static_cast<int>(a), static_cast<int>(f), -1};
  }
  return {};
}

// ---- search

void TCatalogTreeModel::Search(const std::function<bool(const QString&)>& holds,
                               const std::function<bool(int32_t, const std::string&)>& noteHolds) {
  beginResetModel();
  filtered_ = true;
  shownAreas_.clear();
  shownFiles_.assign(areas_.size(), {});
  shownVersions_.clear();
  areaMatch_.assign(areas_.size(), 0);
  fileMatch_.clear();
  versionMatch_.clear();
  folderMatch_.assign(areas_.size(), {});
  for (size_t ai = 0; ai < areas_.size(); ++ai) {
    const TCatalogArea& a = areas_[ai];
    const bool areaMatch = holds(ScreenText(a.Name));
    bool areaShown = areaMatch;
    for (size_t fi = a.Files.size(); fi-- > 0;) {
      const TCatalogFile& f = a.Files[fi];
      const uint32_t key = keys_[ai][fi];
      const bool fileMatch = holds(ScreenText(f.Path));
      bool fileShown = areaMatch || fileMatch;
      std::vector<int> shown;
      std::vector<char> matched;
      for (size_t vi = f.Versions.size(); vi-- > 0;) {
        const bool match = holds(ScreenText(f.Versions[vi])) || noteHolds(f.FileNo, f.Versions[vi]);
        if (areaMatch || fileMatch || match) shown.push_back(static_cast<int>(vi));
        if (match) {
          if (matched.empty()) matched.resize(f.Versions.size(), 0);
          matched[vi] = 1;
          fileShown = true;
        }
      }
      if (fileShown) {
        shownFiles_[ai].Files.push_back(static_cast<int>(fi));
        shownVersions_[key] = std::move(shown);
      }
      if (fileMatch) fileMatch_[key] = 1;
      if (!matched.empty()) versionMatch_[key] = std::move(matched);
      areaShown = areaShown || fileShown;
    }
    for (size_t k = 0; k < a.Folders.size(); ++k) {
      const bool match = holds(ScreenText(a.Folders[k].Path));
      if (areaMatch || match) shownFiles_[ai].Folders.push_back(static_cast<int>(k));
      if (match) {
        folderMatch_[ai].resize(a.Folders.size(), 0);
        folderMatch_[ai][k] = 1;
      }
      areaShown = areaShown || match;
    }
    areaMatch_[ai] = areaMatch;
    if (areaShown) shownAreas_.push_back(static_cast<int>(ai));
  }
  endResetModel();
}

void TCatalogTreeModel::ClearSearch() {
  if (!filtered_) return;
  beginResetModel();
  ForgetSearch();
  endResetModel();
}

// ---- QAbstractItemModel

QModelIndex TCatalogTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  if (!parent.isValid()) return row < AreaRows() ? createIndex(row, 0, quintptr(0)) : QModelIndex();
  TPlace p = PlaceOf(parent);
  if (p.Kind == TKind::Area)
    return row < FileRows(p.Area) ? createIndex(row, 0, UnderArea(p.Area)) : QModelIndex();
  if (p.Kind == TKind::File) {
    uint32_t key = KeyOf(p.Area, p.File);
    return row < VersionRows(key) ? createIndex(row, 0, static_cast<quintptr>(key) << 1) : QModelIndex();
  }
  return {};
}

QModelIndex TCatalogTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  quintptr id = child.internalId();
  if (id == 0) return {};
  if (id & kUnderArea) {
    int area = static_cast<int>(id >> 1);
    return createIndex(AreaRow(area), 0, quintptr(0));
  }
  const TSlot& s = slots_[id >> 1];
  return createIndex(FileRow(s.Area, s.File), 0, UnderArea(s.Area));
}

int TCatalogTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return AreaRows();
  if (parent.column() != 0) return 0;
  TPlace p = PlaceOf(parent);
  if (p.Kind == TKind::Area) return FileRows(p.Area);
  if (p.Kind == TKind::File) return VersionRows(KeyOf(p.Area, p.File));
  return 0;
}

int TCatalogTreeModel::columnCount(const QModelIndex&) const {
  return 1;
}

QVariant TCatalogTreeModel::data(const QModelIndex& index, int role) const {
  TPlace p = PlaceOf(index);
  if (p.Kind == TKind::None) return {};
  switch (role) {
    case Qt::DisplayRole:
      return ScreenText(TextAt(p));
    case kTextRole: {
      const std::string& text = TextAt(p);
      return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    }
    case kKindRole:
      return static_cast<int>(p.Kind);
    case kFileNoRole:
      return p.Kind == TKind::File ? QVariant(areas_[p.Area].Files[p.File].FileNo) : QVariant();
    case Qt::DecorationRole: {
      if (!imageList_) return {};
      if (p.Kind == TKind::Area || p.Kind == TKind::Folder) return imageList_->Icon(0);
      const TCatalogFile& f = areas_[p.Area].Files[p.File];
      if (p.Kind == TKind::Version && p.Item < static_cast<int>(f.Protected.size()) && f.Protected[p.Item] &&
          !protectedIcon_.isNull())
        return protectedIcon_;
      const uint32_t key = KeyOf(p.Area, p.File);
      if (p.Kind == TKind::Version && p.Item >= loadedVersions_[key]) return imageList_->Icon(0);
      return FileIcon(key);
    }
    case kMatchRole:
      return Matches(p);
    case Qt::FontRole:
      if (Matches(p)) {
        QFont bold;
        bold.setBold(true);
        return bold;
      }
      return {};
    case Qt::BackgroundRole:
      return Matches(p) ? QVariant(QBrush(QColor(255, 236, 140))) : QVariant();
    default:
      return {};
  }
}

Qt::ItemFlags TCatalogTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  TKind kind = PlaceOf(index).Kind;
  if (kind == TKind::Version || kind == TKind::Folder) f |= Qt::ItemNeverHasChildren;
  return f;
}

}  // namespace lanqi
