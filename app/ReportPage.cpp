#include "app/ReportPage.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBoxLayout>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QHeaderView>
#include <QHorizontalBarSeries>
#include <QLabel>
#include <QSplitter>
#include <QTreeWidget>
#include <QValueAxis>
#include <algorithm>

#include "app/uver.h"
#include "platform/Files.h"

namespace lanqi {

namespace {

QString U(const char* utf8) {
  return QString::fromUtf8(utf8);
}

QChartView* NewChartView(const QString& name, QWidget* parent) {
  auto* view = new QChartView(parent);
  view->setObjectName(name);
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumSize(160, 40);
  view->chart()->legend()->hide();
  view->chart()->setMargins(QMargins(4, 4, 4, 4));
  return view;
}

// Right-aligned numbers in the columns after the name.
QTreeWidgetItem* NewRow(const QString& name, int versions, int64_t space, const std::string& last) {
  auto* row =
      new QTreeWidgetItem({name, QString::number(versions), QString::fromStdString(ByteSizeText(space)),
                           ScreenText(VersionTimeText(last))});
  for (int c = 1; c <= 2; ++c) row->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
  row->setToolTip(2, QString::number(space) + U(" 字节"));
  return row;
}

}  // namespace

TReportPage::TReportPage(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("ReportPage"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 4, 4, 4);
  column->setSpacing(4);
  SummaryLabel = new QLabel(this);
  SummaryLabel->setObjectName(QStringLiteral("SummaryLabel"));
  column->addWidget(SummaryLabel);

  auto* split = new QSplitter(Qt::Horizontal, this);
  split->setObjectName(QStringLiteral("ReportSplitter"));
  split->setChildrenCollapsible(false);
  column->addWidget(split, 1);
  ReportTree = new QTreeWidget(split);
  ReportTree->setObjectName(QStringLiteral("ReportTree"));
  ReportTree->setColumnCount(4);
  ReportTree->setHeaderLabels({U("名称"), U("版本数"), U("备份空间"), U("最后修改")});
  ReportTree->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ReportTree->header()->setStretchLastSection(false);
  ReportTree->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  for (int c = 1; c < 4; ++c) ReportTree->header()->setSectionResizeMode(c, QHeaderView::ResizeToContents);
  auto* charts = new QSplitter(Qt::Vertical, split);
  charts->setChildrenCollapsible(false);
  DaysChart = NewChartView(QStringLiteral("DaysChart"), charts);
  LargestChart = NewChartView(QStringLiteral("LargestChart"), charts);
  ReportTree->setTextElideMode(Qt::ElideMiddle);
  split->setStretchFactor(0, 1);
  split->setStretchFactor(1, 1);
  split->setSizes({420, 580});
}

void TReportPage::Show(TCatalogReport report) {
  report_ = std::move(report);
  ReportTree->clear();
  for (const TReportArea& a : report_.Areas) {
    QTreeWidgetItem* area = NewRow(ScreenText(a.Name), a.Versions, a.Space, a.LastChange);
    area->setToolTip(0, ScreenText(a.Folder));
    for (const TReportFile& f : a.Files) {
      QTreeWidgetItem* file = NewRow(ScreenText(f.Path), f.Versions, f.Space, f.LastChange);
      file->setToolTip(0, ScreenText(f.Path));
      area->addChild(file);
    }
    ReportTree->addTopLevelItem(area);
    area->setExpanded(true);
  }
  SummaryLabel->setText(U("共 %1 个存储区，%2 个版本，备份占用 %3")
                            .arg(report_.Areas.size())
                            .arg(report_.Versions)
                            .arg(QString::fromStdString(ByteSizeText(report_.Space))));
  FillDays();
  FillLargest();
}

void TReportPage::FillDays() {
  QChart* chart = DaysChart->chart();
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  chart->setTitle(U("近 %1 天每天的版本数").arg(kReportDays));
  // One bar a day at its index; the axis names a date every fortnight, ending on today.
  auto* set = new QBarSet(U("版本数"));
  auto* x = new QCategoryAxis;
  x->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  int most = 0;
  const int count = static_cast<int>(report_.Days.size());
  for (int i = 0; i < count; ++i) {
    const TReportDay& d = report_.Days[static_cast<size_t>(i)];
    *set << d.Versions;
    most = std::max(most, d.Versions);
    if ((count - 1 - i) % 15 == 0) {
      std::chrono::year_month_day ymd{d.Day};
      x->append(QStringLiteral("%1-%2")
                    .arg(static_cast<unsigned>(ymd.month()), 2, 10, QLatin1Char('0'))
                    .arg(static_cast<unsigned>(ymd.day()), 2, 10, QLatin1Char('0')),
                i);
    }
  }
  auto* series = new QBarSeries;
  series->setBarWidth(0.8);
  series->append(set);
  chart->addSeries(series);
  x->setRange(-0.5, count - 0.5);
  x->setGridLineVisible(false);
  chart->addAxis(x, Qt::AlignBottom);
  series->attachAxis(x);
  auto* y = new QValueAxis;
  y->setLabelFormat(QStringLiteral("%d"));
  const int top = std::max(most, 4);
  y->setRange(0, top);
  y->setTickCount(top % 4 == 0 ? 5 : std::min(top, 4) + 1);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(y);
}

void TReportPage::FillLargest() {
  QChart* chart = LargestChart->chart();
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
  // One unit for every bar, the largest's.
  int64_t largest = report_.Largest.empty() ? 0 : report_.Largest.front().Space;
  static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
  int unit = 0;
  double scale = 1;
  while (unit < 4 && largest / scale >= 1024) scale *= 1024, ++unit;
  chart->setTitle(U("备份空间最大的 %1 个文件（%2）").arg(kReportLargest).arg(units[unit]));
  auto* set = new QBarSet(U("备份空间"));
  QStringList names;
  // The chart draws its first category at the bottom: the largest goes last.
  for (auto f = report_.Largest.rbegin(); f != report_.Largest.rend(); ++f) {
    *set << static_cast<double>(f->Space) / scale;
    // Categories are told apart by their text: a name two files share shows their paths.
    QString name = ScreenText(ExtractFileName(f->Path));
    const bool shared =
        std::count_if(report_.Largest.begin(), report_.Largest.end(), [&](const TReportFile& o) {
          return ExtractFileName(o.Path) == ExtractFileName(f->Path);
        }) > 1;
    names << (shared ? ScreenText(f->Path) : name);
  }
  auto* series = new QHorizontalBarSeries;
  series->append(set);
  chart->addSeries(series);
  auto* y = new QBarCategoryAxis;
  y->setTruncateLabels(false);
  y->append(names);
  chart->addAxis(y, Qt::AlignLeft);
  series->attachAxis(y);
  auto* x = new QValueAxis;
  x->setLabelFormat(unit == 0 ? QStringLiteral("%d") : QStringLiteral("%.1f"));
  x->setRange(0, std::max(static_cast<double>(largest) / scale, 1.0));
  x->applyNiceNumbers();
  chart->addAxis(x, Qt::AlignBottom);
  series->attachAxis(x);
}

}  // namespace lanqi
