// Captures in a detection pass whose copy runs beside the window: a large file's progress, its note
// asked for meanwhile, and the program left while it is copied.
#include <filesystem>

#include "app/CaptureProgress.h"
#include "tests/app/MainWindowFixture.h"

namespace lanqi {
namespace {

namespace fs = std::filesystem;

struct PassCapture : MainWindow {
  // A tracked file of 200 MB whose stamp differs from the stored one; past its first bytes it is a
  // hole, which the copy reads like any other bytes.
  std::string Large() {
    const int32_t area = Area("A", dir.File("area"));
    std::string path = dir.Write("big.bin", "the head of a large file");
    fs::resize_file(path, kSize);
    File(area, path, "2000-01-01-00-00-00");
    fs::create_directories(path + "-bak");
    return path;
  }
  void Pass() {
    w->tmr1->SetEnabled(true);
    loop.Advance(5000);
  }
  // Runs the loop until the copy's progress moves on from here on (from inside the prompt: the
  // copy started before it). Each report runs on this thread while the copy waits for it, so one
  // shown now proves the loop is served while the copy runs.
  bool ProgressShown() {
    if (!w->FormCapture) return false;
    int shown = 0;
    auto c = QObject::connect(w->FormCapture->ProgressBar1, &QProgressBar::valueChanged, [&] { ++shown; });
    const bool moved = loop.RunUntil([&] { return shown > 0; }, 60000);
    QObject::disconnect(c);
    return moved;
  }
  static constexpr uintmax_t kSize = uintmax_t{200} << 20;
};

TEST_F(PassCapture, ALargeFileIsCopiedWhileItsPromptIsOpenAndItsRowFollowsTheCopy) {
  const std::string big = Large();
  Make();
  QString caption;
  size_t rowsDuringPrompt = 99;
  onDialog = [&](QDialog& d) {
    auto& note = dynamic_cast<TFormVerSm&>(d);
    EXPECT_TRUE(ProgressShown());
    if (w->FormCapture) {
      caption = w->FormCapture->windowTitle();
      EXPECT_TRUE(w->FormCapture->isVisible());
    }
    rowsDuringPrompt = Rows(u8"文件版本表").size();
    note.Edit1->setPlainText("large");
    note.Button1->click();
    return 0;
  };
  Pass();
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(caption, Q(u8"正在备份：big.bin"));
  EXPECT_EQ(rowsDuringPrompt, 0u);
  EXPECT_EQ(w->FormCapture, nullptr);
  auto rows = Rows(u8"文件版本表");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["说明"], "large");
  EXPECT_EQ(rows[0]["大小"], std::to_string(kSize));
  EXPECT_EQ(fs::file_size(rows[0]["文件名称"]), kSize);
  EXPECT_EQ(Rows(u8"文件索引表")[0]["大小"], VersionStamp(big));
  EXPECT_EQ(Texts(Child(Top(0), 0)), std::vector<std::string>{rows[0]["版本"]});
}

TEST_F(PassCapture, LeavingDuringALargeCopyRecordsNothingAndLeavesNoCopy) {
  const std::string big = Large();
  Make();
  onDialog = [&](QDialog&) {
    EXPECT_TRUE(ProgressShown());
    EXPECT_TRUE(w->QueryEndSession());
    return 0;
  };
  Pass();
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(Rows(u8"文件版本表").empty());
  // The stamp stays as it was, so the next start captures the file again.
  EXPECT_EQ(Rows(u8"文件索引表")[0]["大小"], "2000-01-01-00-00-00");
  // Neither the copy nor any part of it.
  EXPECT_TRUE(fs::is_empty(big + "-bak"));
}

}  // namespace
}  // namespace lanqi
