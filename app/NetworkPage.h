// TNetworkPage: the "网络管理" tab. The tracked files that no change report covers, each with its
// mount's kind and the time of its last check.
#pragma once

#include <QWidget>
#include <vector>

#include "app/PolledFiles.h"

class QLabel;
class QTreeWidget;

namespace lanqi {

class TNetworkPage : public QWidget {
  Q_OBJECT
 public:
  explicit TNetworkPage(QWidget* parent = nullptr);

  QLabel* HintLabel;
  QTreeWidget* PolledList;  // 文件, 挂载类型, 挂载点, 上次检查

  void Show(const std::vector<TPolledFile>& files, int intervalSeconds);
};

}  // namespace lanqi
