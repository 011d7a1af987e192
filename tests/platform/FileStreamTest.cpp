#include "platform/FileStream.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "rtl/Exceptions.h"
#include "tests/platform/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace lanqi {
namespace {

const std::string kInUse = "The process cannot access the file because it is being used by another process.";

std::string OpenError(const std::string& path, uint16_t mode) {
  try {
    TFileStream s(path, mode);
  } catch (const EFOpenError& e) {
    return e.Message();
  }
  return "";
}

TEST(FileStream, ReadWriteSeekSizeAndPositionedTransfers) {
  test::TempDir dir;
  const std::string path = dir.File("data.bin");
  {
    TFileStream s(path, fmCreate);
    s.WriteBuffer("hello world", 11);
    EXPECT_EQ(s.Position(), 11);
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.WriteAt(6, "WORLD", 5), 5);
    EXPECT_EQ(s.Position(), 11);  // positioned writes leave the position alone
    s.SetPosition(20);
    s.WriteBuffer("!", 1);  // past the end: the gap reads as zeros
    EXPECT_EQ(s.Size(), 21);
    s.SetSize(5);
    EXPECT_EQ(s.Position(), 5);
    s.Flush();
  }
  EXPECT_EQ(test::TempDir::Read(path), "hello");

  TFileStream s(path, fmOpenRead | fmShareDenyNone);
  char buf[16] = {};
  EXPECT_EQ(s.Seek(-3, TSeekOrigin::soEnd), 2);
  EXPECT_EQ(s.Read(buf, 16), 3);  // a short read at the end surfaces as the count
  EXPECT_EQ(std::string(buf, 3), "llo");
  EXPECT_EQ(s.Read(buf, 16), 0);
  EXPECT_EQ(s.ReadAt(1, buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "el");
  s.SetPosition(4);
  EXPECT_THROW(s.ReadBuffer(buf, 2), EReadError);
  // A read-only open refuses writes with the system's reason.
  try {
    s.Write("x", 1);
    FAIL() << "write on a read-only open";
  } catch (const EWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Stream write error. " + SysErrorMessage(EBADF));
  }
}

TEST(FileStream, OpenErrorsNameTheFullPathAndTheReason) {
  test::TempDir dir;
  EXPECT_EQ(OpenError(dir.File("missing"), fmOpenRead),
            "Cannot open file \"" + dir.File("missing") + "\". " + SysErrorMessage(ENOENT));
  EXPECT_EQ(OpenError(dir.Path(), fmOpenRead),
            "Cannot open file \"" + dir.Path() + "\". " + SysErrorMessage(EISDIR));

  // A relative name is reported in full.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  std::string msg = OpenError("sub/../nothing.dat", fmOpenReadWrite);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(msg, "Cannot open file \"" + dir.File("nothing.dat") + "\". " + SysErrorMessage(ENOENT));
}

TEST(FileStream, FlushFailureRaisesWriteError) {
  TFileStream devNull("/dev/null", fmOpenWrite | fmShareDenyNone);
  try {
    devNull.Flush();  // a character device cannot be synchronised
    FAIL() << "fsync of /dev/null reported success";
  } catch (const EWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Stream write error. " + SysErrorMessage(EINVAL));
  }
}

struct SharingCase {
  uint16_t first, second;
  bool secondOpens;
};

TEST(FileStream, SharingModesBetweenOpensOfThisProcess) {
  const uint16_t rdNone = fmOpenRead | fmShareDenyNone, rwNone = fmOpenReadWrite | fmShareDenyNone;
  const uint16_t rdExcl = fmOpenRead | fmShareExclusive, rwExcl = fmOpenReadWrite | fmShareExclusive;
  const uint16_t wrNone = fmOpenWrite | fmShareDenyNone, wrExcl = fmOpenWrite | fmShareExclusive;
  const SharingCase cases[] = {
      {rdNone, rwNone, true},     {rwNone, rdNone, true},
      {rdNone, fmOpenRead, true}, {rwNone, rwExcl, false},
      {rwExcl, rdNone, false},    {rwExcl, rwExcl, false},
      {rdExcl, rdNone, false},    {rdNone, rdExcl, false},
      {wrNone, rwExcl, false},    {rwExcl, wrNone, false},
      {wrExcl, rdNone, false},    {rdNone, fmCreate, false},
      {fmCreate, rdNone, false},  {rwNone, fmCreate | fmShareDenyNone, true},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.first << " then " << c.second);
    const std::string path = dir.Write("shared.dat", "keep");
    TFileStream first(path, c.first);
    std::string msg = OpenError(path, c.second);
    if (c.secondOpens) {
      EXPECT_EQ(msg, "");
    } else {
      EXPECT_EQ(msg, "Cannot open file \"" + path + "\". " + kInUse);
      if (c.first != fmCreate) {
        EXPECT_EQ(test::TempDir::Read(path), "keep");  // a refused create truncates nothing
      }
    }
  }
}

TEST(FileStream, ExclusiveOpenIsFreeAgainOnceTheOthersClose) {
  test::TempDir dir;
  const std::string path = dir.Write("f.dat", "x");
  auto shared = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone);
  EXPECT_NE(OpenError(path, fmOpenReadWrite | fmShareExclusive), "");
  shared.reset();
  auto excl = std::make_unique<TFileStream>(path, fmOpenReadWrite | fmShareExclusive);
  EXPECT_NE(OpenError(path, fmOpenRead | fmShareDenyNone), "");
  excl.reset();
  EXPECT_EQ(OpenError(path, fmOpenRead | fmShareDenyNone), "");
}

TEST(FileStream, SharingModesBetweenProcesses) {
  test::TempDir dir;
  const std::string path = dir.Write("f.dat", "x");
  {
    test::ChildProcess child([&] {
      static std::unique_ptr<TFileStream> held;
      held = std::make_unique<TFileStream>(path, fmOpenReadWrite | fmShareExclusive);
      return true;
    });
    ASSERT_TRUE(child.Succeeded());
    EXPECT_EQ(OpenError(path, fmOpenRead | fmShareDenyNone), "Cannot open file \"" + path + "\". " + kInUse);
    child.Release();
    EXPECT_EQ(OpenError(path, fmOpenRead | fmShareDenyNone), "");
  }
  TFileStream mine(path, fmOpenRead | fmShareDenyNone);
  test::ChildProcess shared([&] { return OpenError(path, fmOpenReadWrite | fmShareDenyNone).empty(); });
  EXPECT_TRUE(shared.Succeeded());
  test::ChildProcess excl([&] { return OpenError(path, fmOpenReadWrite | fmShareExclusive).empty(); });
  EXPECT_FALSE(excl.Succeeded());
}

}  // namespace
}  // namespace lanqi
