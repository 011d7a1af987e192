#include "app/Shell.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QObject>
#include <QUrl>
#include <chrono>

#include "app/SystemImages.h"
#include "platform/CodePage.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

// Receives what the desktop would open, so no program is started.
class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void open(const QUrl& url) { urls.push_back(url); }
};

struct DesktopShell : testing::Test {
  void SetUp() override { QDesktopServices::setUrlHandler("file", &catcher, "open"); }
  void TearDown() override { QDesktopServices::unsetUrlHandler("file"); }
  UrlCatcher catcher;
  TDesktopShell shell;
};

TEST_F(DesktopShell, OpensTheFileAndNothingForAnEmptyPath) {
  test::TempDir tmp;
  std::string file = tmp.Write("a b.txt", "x");
  shell.OpenDocument("");
  shell.ShowInFileManager("");
  shell.OpenDocument(file);
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0], QUrl::fromLocalFile(QString::fromStdString(file)));
}

TEST_F(DesktopShell, WithoutAFileManagerTheFolderIsOpened) {
  // The test session has no file manager on the bus (or no bus at all).
  test::TempDir tmp;
  std::string file = tmp.Write(Ansi(u8"报告.doc"), "x");
  shell.ShowInFileManager(file);
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (catcher.urls.isEmpty() && std::chrono::steady_clock::now() < end)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0], QUrl::fromLocalFile(QString::fromStdString(tmp.Path())));
}

TEST(SystemImages, FolderIsZeroAndEachTypeKeepsItsIndex) {
  test::TempDir tmp;
  TSystemImages img;
  EXPECT_EQ(img.Count(), 1);
  EXPECT_FALSE(img.Icon(0).isNull());
  EXPECT_EQ(img.SystemIconIndex(tmp.Path()), 0);

  std::string txt1 = tmp.Write("one.txt", "hello");
  std::string txt2 = tmp.Write("two.txt", "world");
  std::string png = tmp.File("missing.png");  // typed by name
  int t = img.SystemIconIndex(txt1);
  EXPECT_GT(t, 0);
  EXPECT_EQ(img.SystemIconIndex(txt2), t);
  int p = img.SystemIconIndex(png);
  EXPECT_GT(p, 0);
  EXPECT_NE(p, t);
  EXPECT_EQ(img.SystemIconIndex(txt1), t);
  EXPECT_EQ(img.SystemIconIndex(png), p);
  EXPECT_EQ(img.Count(), 3);
  EXPECT_FALSE(img.Icon(p).isNull());
  EXPECT_TRUE(img.Icon(3).isNull());
  EXPECT_TRUE(img.Icon(-1).isNull());

  // Bytes that are no code-page text still get a file icon rather than failing the caller.
  int bad = -1;
  EXPECT_NO_THROW(bad = img.SystemIconIndex("\xff\xff.txt"));
  EXPECT_GT(bad, 0);
}

}  // namespace
}  // namespace lanqi

#include "ShellTest.moc"
