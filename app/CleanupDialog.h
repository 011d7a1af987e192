// TCleanupDialog: a storage area's cleanup rules, set and tried: "预览" lists what the rules shown
// would remove now (nothing is stored or removed), "清理" stores them and removes that, after
// Confirm, "保存" stores them and closes. The rules also run after every capture of the area's files.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "app/CatalogCleanup.h"

class QLabel;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace lanqi {

class TCleanupDialog : public QDialog {
 public:
  TCleanupDialog(TCatalogCleanup& cleanup, int32_t areaNo, const std::string& areaName,
                 QWidget* parent = nullptr);

  QSpinBox* KeepEdit;        // "保留最新版本数" (0: no limit)
  QSpinBox* DailyEdit;       // days after which one version a day stays (0: off)
  QSpinBox* WeeklyEdit;      // weeks after which one version a week stays (0: off)
  QTreeWidget* PreviewList;  // file, version, size of each version the rules remove
  QLabel* SummaryLabel;
  QPushButton* PreviewButton;  // "预览"
  QPushButton* CleanButton;    // "清理"
  QPushButton* SaveButton;     // "保存"
  QPushButton* CancelButton;   // "取消"

  // Asked before anything is removed; null: removes without asking.
  std::function<bool(const QString&)> Confirm;
  // The rules as the edits show them.
  TCleanupRules ShownRules() const;
  // The versions removed by "清理" (for the window to take them out of its tree).
  std::vector<TCleanupItem> Removed;

  void PreviewClick();
  void CleanClick();
  void SaveClick();

 private:
  void ShowItems(const std::vector<TCleanupItem>& items, bool removed);
  TCatalogCleanup& cleanup_;
  int32_t areaNo_;
};

}  // namespace lanqi
