#include <gtest/gtest.h>

#include "rtl/Exceptions.h"
#include "rtl/Streams.h"

namespace lanqi {
namespace {

TEST(MemoryStream, ReadWriteSeekAndSize) {
  TMemoryStream m;
  m.WriteBuffer("hello", 5);
  EXPECT_EQ(m.Size(), 5);
  EXPECT_EQ(m.Position(), 5);
  m.SetPosition(8);  // writing past the end fills the gap with zeros
  m.WriteBuffer("!", 1);
  EXPECT_EQ(m.ToString(), std::string("hello\0\0\0!", 9));
  m.SetSize(2);
  EXPECT_EQ(m.Position(), 2);
  EXPECT_EQ(m.ToString(), "he");
  m.SetPosition(0);
  char buf[4] = {};
  EXPECT_EQ(m.Read(buf, 4), 2);
}

TEST(MemoryStream, ShortTransfersRaiseTheStreamErrors) {
  TMemoryStream m;
  m.WriteBuffer("ab", 2);
  m.SetPosition(0);
  char buf[3];
  try {
    m.ReadBuffer(buf, 3);
    FAIL();
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

TEST(MemoryStream, CopyFromWholeSourceOrCount) {
  TMemoryStream src, dst;
  src.LoadFromString("abcdef");
  src.SetPosition(4);
  EXPECT_EQ(dst.CopyFrom(src, 0), 6);  // 0: the whole source from its start
  src.SetPosition(1);
  EXPECT_EQ(dst.CopyFrom(src, 2), 2);
  EXPECT_EQ(dst.ToString(), "abcdefbc");
}

TEST(Exceptions, MessagesAndComponentPrefix) {
  EXPECT_STREQ(EFOpenError("/x/y", "No such file or directory").what(),
               "Cannot open file \"/x/y\". No such file or directory");
  EXPECT_EQ(ComponentMessage("Table1", "No records"), "Table1: No records");
  EXPECT_EQ(ComponentMessage("", "No records"), "No records");
  try {
    DatabaseError("Field 'X' not found", "Tbarea");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Tbarea: Field 'X' not found");
  }
}

}  // namespace
}  // namespace lanqi
