#include "app/NetworkPage.h"

#include <QBoxLayout>
#include <QLabel>
#include <QTreeWidget>

#include "app/uver.h"

namespace lanqi {

namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

}  // namespace

TNetworkPage::TNetworkPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("NetworkPage"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 4);
  column->setSpacing(4);
  HintLabel = new QLabel(this);
  HintLabel->setObjectName(QStringLiteral("HintLabel"));
  HintLabel->setWordWrap(true);
  column->addWidget(HintLabel);
  PolledList = new QTreeWidget(this);
  PolledList->setObjectName(QStringLiteral("PolledList"));
  PolledList->setRootIsDecorated(false);
  PolledList->setColumnCount(4);
  PolledList->setHeaderLabels({U("文件"), U("挂载类型"), U("挂载点"), U("上次检查")});
  PolledList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  PolledList->setColumnWidth(0, 300);
  PolledList->setColumnWidth(1, 120);
  PolledList->setColumnWidth(2, 150);
  column->addWidget(PolledList, 1);
}

void TNetworkPage::Show(const std::vector<TPolledFile>& files, int intervalSeconds) {
  HintLabel->setText(U("下列受监控文件位于网络、可移动或其他磁盘上，其他计算机的修改不会产生变化通知，"
                       "每 %1 秒检查一次。")
                         .arg(intervalSeconds));
  PolledList->clear();
  for (const TPolledFile& f : files) {
    QString kind = QString::fromStdString(MountKindText(f.Kind));
    if (!f.FsType.empty()) kind += U("（") + QString::fromStdString(f.FsType) + U("）");
    auto* row =
        new QTreeWidgetItem({ScreenText(f.Path), kind, QString::fromStdString(f.MountPoint),
                             f.LastCheck.empty() ? U("尚未检查") : QString::fromStdString(f.LastCheck)});
    row->setToolTip(0, ScreenText(f.Path));
    PolledList->addTopLevelItem(row);
  }
}

}  // namespace lanqi
