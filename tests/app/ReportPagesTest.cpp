// The "网络管理" page (polled files checked through the event loop and handed to the detection pass)
// and the "报表" page (its table, charts and CSV export) in the main window.
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QSpinBox>
#include <cstdlib>

#include "app/CatalogReport.h"
#include "app/NetworkPage.h"
#include "app/PolledFiles.h"
#include "app/ReportPage.h"
#include "platform/IniFile.h"
#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;
using test::A;

struct ReportPages : MainWindow {
  int32_t Track(int32_t area, const std::string& path) {
    fs::create_directories(path + "-bak");
    return File(area, path, VersionStamp(path));
  }
  QStringList PolledRow(int i) {
    QTreeWidgetItem* r = w->NetworkPage1->PolledList->topLevelItem(i);
    return {r->text(0), r->text(1), r->text(3)};
  }
};

TEST_F(ReportPages, APolledFileWrittenElsewhereIsCapturedAtTheNextCheck) {
  int32_t a = Area("A", dir.File("area"));
  fs::create_directories(dir.File("share"));
  std::string share = dir.Write("share/doc.txt", "first");
  SetStamp(share, 0);
  Track(a, share);
  std::string local = dir.Write("local.txt", "x");
  SetStamp(local, 0);
  Track(a, local);
  polled = {share};  // as a file on a network share would be
  Make();

  w->Ribbon1->Pages()->setCurrentIndex(1);
  ASSERT_EQ(w->PageControl1->currentWidget(), w->NetworkPage1);
  ASSERT_EQ(w->NetworkPage1->PolledList->topLevelItemCount(), 1);
  EXPECT_EQ(PolledRow(0)[0], QString::fromStdString(share));
  EXPECT_EQ(PolledRow(0)[2], Q(u8"尚未检查"));
  EXPECT_TRUE(w->NetworkPage1->HintLabel->text().contains(Q(u8"每 60 秒检查一次")));

  // Another machine writes the file: no change report comes, the check at the interval finds it.
  dir.Write("share/doc.txt", "second save");
  SetStamp(share, 3600);
  loop.Advance(59999);
  EXPECT_FALSE(w->tmr1->Enabled());
  loop.Advance(1);
  EXPECT_TRUE(w->tmr1->Enabled());
  EXPECT_NE(PolledRow(0)[2], Q(u8"尚未检查"));
  loop.Advance(5000);
  EXPECT_EQ(dialogs, 1);
  auto versions = Rows(u8"文件版本表");
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(versions[0]["版本"], VersionStamp(share));
  EXPECT_EQ(test::TempDir::Read(versions[0]["文件名称"]), "second save");
  EXPECT_TRUE(messages.empty());

  // Nothing new on the share, and a change to a file that is not polled: the checks hand nothing on.
  dir.Write("local.txt", "y");
  SetStamp(local, 7200);
  loop.Advance(120000);
  EXPECT_FALSE(w->tmr1->Enabled());
  EXPECT_EQ(dialogs, 1);

  // A shorter interval, kept in setup.ini for the next start.
  w->PollIntervalEdit->setValue(10);
  EXPECT_EQ(TIniFile(dir.File("exe/setup.ini")).ReadInteger(A(u8"网络管理"), A(u8"检查间隔"), 0), 10);
  EXPECT_EQ(LoadPollInterval(dir.File("exe")), 10);
  dir.Write("share/doc.txt", "third");
  SetStamp(share, 9000);
  loop.Advance(10000);
  EXPECT_TRUE(w->tmr1->Enabled());
  loop.Advance(5000);
  EXPECT_EQ(dialogs, 3);  // the pass compares every tracked file: local.txt's change is captured too

  // "自动监测" off: the checks look at nothing; on again, its pass captures what was written meanwhile.
  w->SetAutoMonitor(false, true);
  const QString lastCheck = PolledRow(0)[2];
  dir.Write("share/doc.txt", "fourth");
  SetStamp(share, 12000);
  loop.Advance(30000);
  EXPECT_FALSE(w->tmr1->Enabled());
  EXPECT_EQ(PolledRow(0)[2], lastCheck);
  EXPECT_EQ(dialogs, 3);
  w->SetAutoMonitor(true, true);
  EXPECT_EQ(dialogs, 4);
  EXPECT_EQ(test::TempDir::Read(Rows(u8"文件版本表").back()["文件名称"]), "fourth");
  EXPECT_TRUE(messages.empty());
}

TEST(PollInterval, MissingOrOutOfRangeSettingsReadAsTheNearestAllowed) {
  test::TempDir dir;
  EXPECT_EQ(LoadPollInterval(dir.Path()), 60);
  struct Case {
    const char* stored;
    int seconds;
  };
  for (const Case& c :
       {Case{"0", 5}, Case{"-3", 5}, Case{"abc", 60}, Case{"90", 90}, Case{"999999", 86400}}) {
    TIniFile(dir.File("setup.ini")).WriteString(A(u8"网络管理"), A(u8"检查间隔"), c.stored);
    EXPECT_EQ(LoadPollInterval(dir.Path()), c.seconds) << c.stored;
  }
}

// Version texts of the last weeks, so that the day chart has something to show.
std::string DaysAgo(int days, int hour) {
  std::chrono::year_month_day d{LocalToday() - std::chrono::days{days}};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u-%02d-00-00", static_cast<int>(d.year()),
                static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()), hour);
  return text;
}

TEST_F(ReportPages, TheReportPageShowsTheCatalogAndExportsItsTable) {
  int32_t docs = Area(A(u8"文档"), dir.File("area"));
  int32_t code = Area(A(u8"程序"), dir.File("area2"));
  struct Doc {
    int32_t area;
    const char8_t* name;
    int versions;
    size_t bytes;
  };
  const Doc files[] = {{docs, u8"年度报告.docx", 14, 48000}, {docs, u8"预算,草案.xlsx", 9, 21000},
                       {docs, u8"会议纪要.txt", 6, 3000},    {code, u8"main.cpp", 22, 9000},
                       {code, u8"README.md", 5, 2500},       {code, u8"设计说明.pdf", 3, 150000}};
  int copyNo = 0;
  fs::create_directories(dir.File("copies"));
  for (const Doc& d : files) {
    std::string path = dir.Write(reinterpret_cast<const char*>(d.name), "now");
    int32_t f = File(d.area, Utf8ToAnsi(path));
    for (int v = 0; v < d.versions; ++v) {
      // Every third version repeats the one before and shares its copy.
      std::string copy = dir.Write("copies/" + std::to_string(v % 3 == 2 ? copyNo : ++copyNo),
                                   std::string(d.bytes + static_cast<size_t>(v) * 100, 'x'));
      Version(f, DaysAgo((v * 7 + d.versions) % 60, 9 + v % 8), std::to_string(d.bytes), "", copy);
    }
  }
  Make();
  w->resize(1100, 640);
  w->show();
  w->Ribbon1->Pages()->setCurrentIndex(2);
  ASSERT_EQ(w->PageControl1->currentWidget(), w->ReportPage1);
  const TCatalogReport& r = w->ReportPage1->Report();
  QTreeWidget* tree = w->ReportPage1->ReportTree;
  ASSERT_EQ(tree->topLevelItemCount(), 2);
  EXPECT_EQ(tree->topLevelItem(0)->text(0), Q(u8"文档"));
  EXPECT_EQ(tree->topLevelItem(0)->text(1), "29");
  EXPECT_EQ(tree->topLevelItem(0)->text(2), QString::fromStdString(ByteSizeText(r.Areas[0].Space)));
  ASSERT_EQ(tree->topLevelItem(0)->childCount(), 3);
  EXPECT_EQ(tree->topLevelItem(0)->child(1)->text(0), QString::fromStdString(dir.File("预算,草案.xlsx")));
  EXPECT_EQ(tree->topLevelItem(1)->child(0)->text(1), "22");
  EXPECT_EQ(r.Versions, 59);
  EXPECT_TRUE(w->ReportPage1->SummaryLabel->text().contains(Q(u8"59 个版本")));
  EXPECT_EQ(w->ReportPage1->DaysChart->chart()->series().size(), 1);
  ASSERT_EQ(w->ReportPage1->LargestChart->chart()->series().size(), 1);
  EXPECT_EQ(r.Largest.size(), 6u);
  EXPECT_EQ(ExtractFileName(r.Largest[0].Path), A(u8"年度报告.docx"));

  if (const char* shots = std::getenv("LANQI_SCREENSHOT_DIR")) {
    QApplication::processEvents();
    w->grab().save(QString::fromUtf8(shots) + "/report-page.png");
  }

  // "导出 CSV": the table as the page shows it, in the file the dialog names.
  const std::string csvFile = dir.File("out.csv");
  onDialog = [&](QDialog& d) {
    auto* save = dynamic_cast<QFileDialog*>(&d);
    EXPECT_NE(save, nullptr);
    if (!save) return 0;
    save->selectFile(QString::fromStdString(csvFile));
    return static_cast<int>(QDialog::Accepted);
  };
  w->GlowButton6->click();
  std::string csv = test::TempDir::Read(csvFile);
  EXPECT_EQ(csv, ReportCsv(w->ReportPage1->Report()));
  EXPECT_NE(csv.find("\"文档\",\"" + dir.File("预算,草案.xlsx") + "\",\"9\","), std::string::npos) << csv;
  EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace lanqi
