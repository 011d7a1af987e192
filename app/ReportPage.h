// TReportPage: the "报表" tab. The catalog's areas and files with their versions, backup space and
// last change, the versions per day of the last 90 days and the ten largest histories as charts.
#pragma once

#include <QWidget>

#include "app/CatalogReport.h"

class QChartView;
class QLabel;
class QTreeWidget;

namespace lanqi {

class TReportPage : public QWidget {
  Q_OBJECT
 public:
  explicit TReportPage(QWidget* parent = nullptr);

  QLabel* SummaryLabel;
  QTreeWidget* ReportTree;  // areas, each with its files: 名称, 版本数, 备份空间, 最后修改
  QChartView* DaysChart;
  QChartView* LargestChart;

  // Shows report (the catalog as read now).
  void Show(TCatalogReport report);
  const TCatalogReport& Report() const { return report_; }

 private:
  void FillDays();
  void FillLargest();
  TCatalogReport report_;
};

}  // namespace lanqi
