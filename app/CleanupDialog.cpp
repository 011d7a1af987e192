#include "app/CleanupDialog.h"

#include <QApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/uver.h"

namespace lanqi {

namespace {

// A large history takes a while to read and to clean: the pointer says so meanwhile.
struct TBusy {
  TBusy() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TBusy() { QApplication::restoreOverrideCursor(); }
};

QString U(const char8_t* utf8) {
  return QString::fromUtf8(reinterpret_cast<const char*>(utf8));
}

QSpinBox* RuleEdit(QWidget* parent, const char* name, int value, const char8_t* off, const char8_t* suffix) {
  auto* edit = new QSpinBox(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setRange(0, 100000);
  // 0 shows as the rule being off.
  edit->setSpecialValueText(U(off));
  edit->setSuffix(U(suffix));
  edit->setValue(value);
  return edit;
}

}  // namespace

TCleanupDialog::TCleanupDialog(TCatalogCleanup& cleanup, int32_t areaNo, const std::string& areaName,
                               QWidget* parent)
    : QDialog(parent), cleanup_(cleanup), areaNo_(areaNo) {
  setObjectName(QStringLiteral("CleanupDialog"));
  setWindowTitle(U(u8"清理规则 - ") + ScreenText(areaName));
  resize(560, 420);
  const TCleanupRules rules = cleanup_.Rules(areaNo_);

  auto* column = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  KeepEdit = RuleEdit(this, "KeepEdit", rules.KeepNewest, u8"不限", u8" 个");
  DailyEdit = RuleEdit(this, "DailyEdit", rules.DailyAfterDays, u8"不按天保留", u8" 天后");
  WeeklyEdit = RuleEdit(this, "WeeklyEdit", rules.WeeklyAfterWeeks, u8"不按周保留", u8" 周后");
  form->addRow(U(u8"每个文件保留最新版本数："), KeepEdit);
  form->addRow(U(u8"每天只保留一个版本："), DailyEdit);
  form->addRow(U(u8"每周只保留一个版本："), WeeklyEdit);
  column->addLayout(form);
  auto* note = new QLabel(
      U(u8"受保护的版本和每个文件的最新版本不会被清理。每次保存新版本后按这些规则自动清理。"), this);
  note->setObjectName(QStringLiteral("NoteLabel"));
  note->setWordWrap(true);
  column->addWidget(note);

  PreviewList = new QTreeWidget(this);
  PreviewList->setObjectName(QStringLiteral("PreviewList"));
  PreviewList->setRootIsDecorated(false);
  PreviewList->setColumnCount(3);
  PreviewList->setHeaderLabels({U(u8"文件"), U(u8"文件版本"), U(u8"大小")});
  PreviewList->setColumnWidth(0, 260);
  PreviewList->setColumnWidth(1, 150);
  PreviewList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  column->addWidget(PreviewList, 1);
  SummaryLabel = new QLabel(this);
  SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
  column->addWidget(SummaryLabel);

  auto* buttons = new QHBoxLayout;
  PreviewButton = new QPushButton(U(u8"预览"), this);
  PreviewButton->setObjectName(QStringLiteral("PreviewButton"));
  CleanButton = new QPushButton(U(u8"清理"), this);
  CleanButton->setObjectName(QStringLiteral("CleanButton"));
  SaveButton = new QPushButton(U(u8"保存"), this);
  SaveButton->setObjectName(QStringLiteral("SaveButton"));
  CancelButton = new QPushButton(U(u8"取消"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  buttons->addWidget(PreviewButton);
  buttons->addWidget(CleanButton);
  buttons->addStretch(1);
  buttons->addWidget(SaveButton);
  buttons->addWidget(CancelButton);
  column->addLayout(buttons);

  // A failure is shown in the summary line, where the user is looking; nothing is half stored.
  auto guarded = [this](void (TCleanupDialog::*f)()) {
    return [this, f] {
      try {
        (this->*f)();
      } catch (const std::exception& e) {
        SummaryLabel->setText(U(u8"操作失败：") + ScreenText(e.what()));
      }
    };
  };
  connect(PreviewButton, &QPushButton::clicked, this, guarded(&TCleanupDialog::PreviewClick));
  connect(CleanButton, &QPushButton::clicked, this, guarded(&TCleanupDialog::CleanClick));
  connect(SaveButton, &QPushButton::clicked, this, guarded(&TCleanupDialog::SaveClick));
  connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TCleanupRules TCleanupDialog::ShownRules() const {
  return {KeepEdit->value(), DailyEdit->value(), WeeklyEdit->value()};
}

void TCleanupDialog::ShowItems(const std::vector<TCleanupItem>& items, bool removed) {
  PreviewList->clear();
  int64_t bytes = 0;
  QList<QTreeWidgetItem*> rows;
  for (const TCleanupItem& item : items) {
    auto* row = new QTreeWidgetItem(
        {ScreenText(item.Path), ScreenText(item.Version), QString::fromStdString(SizeText(item.Size))});
    rows.append(row);
    bytes += std::atoll(item.Size.c_str());
  }
  PreviewList->addTopLevelItems(rows);
  QString size = QString::fromStdString(ByteSizeText(bytes));
  if (items.empty())
    SummaryLabel->setText(removed ? U(u8"没有清理任何版本") : U(u8"没有需要清理的版本"));
  else
    SummaryLabel->setText((removed ? U(u8"已清理 %1 个版本，释放 %2") : U(u8"将清理 %1 个版本，共 %2"))
                              .arg(items.size())
                              .arg(size));
}

void TCleanupDialog::PreviewClick() {
  TBusy busy;
  ShowItems(cleanup_.PlanWith(areaNo_, ShownRules(), NowLocalSeconds()), false);
}

void TCleanupDialog::CleanClick() {
  const TCleanupRules rules = ShownRules();
  std::vector<TCleanupItem> plan;
  {
    TBusy busy;
    plan = cleanup_.PlanWith(areaNo_, rules, NowLocalSeconds());
  }
  if (plan.empty()) {
    cleanup_.SetRules(areaNo_, rules);
    ShowItems(plan, true);
    return;
  }
  if (Confirm && !Confirm(U(u8"确定清理 %1 个版本吗？这些版本的备份文件也将删除。").arg(plan.size()))) {
    ShowItems(plan, false);
    return;
  }
  TBusy busy;
  cleanup_.SetRules(areaNo_, rules);
  std::vector<TCleanupItem> removed = cleanup_.Remove(plan);
  Removed.insert(Removed.end(), removed.begin(), removed.end());
  ShowItems(removed, true);
}

void TCleanupDialog::SaveClick() {
  cleanup_.SetRules(areaNo_, ShownRules());
  accept();
}

}  // namespace lanqi
