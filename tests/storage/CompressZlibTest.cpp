#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "crypto/HashBase.h"
#include "engine/storage/Compress_Zlib.h"
#include "engine/storage/DataProcessMgr.h"
#include "rtl/Exceptions.h"

namespace lanqi {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 gen(seed);
  std::vector<uint8_t> b(n);
  for (auto& v : b) v = static_cast<uint8_t>(gen());
  return b;
}

std::vector<uint8_t> TextLike(size_t n) {
  static const char kWords[] = "the quick brown fox jumps over the lazy dog 0123456789 ";
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(kWords[(i * 7 + i / 13) % (sizeof kWords - 1)]);
  return b;
}

void Fill(TMemoryStream& s, const std::vector<uint8_t>& bytes) {
  s.Clear();
  if (!bytes.empty()) s.WriteBuffer(bytes.data(), static_cast<int32_t>(bytes.size()));
}

std::vector<uint8_t> Bytes(TMemoryStream& s) {
  return {s.Memory(), s.Memory() + s.Size()};
}

int32_t Int32At(TMemoryStream& s, size_t offset) {
  const uint8_t* p = s.Memory() + offset;
  return static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

TEST(CompressZlibTest, Crc32EqualsZlibCrc32) {
  const auto data = RandomBytes(70000, 7);
  for (size_t n :
       {0u, 1u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 1000u, 4097u, 65535u, 65536u, 65537u, 70000u}) {
    const uint32_t expect = static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(n)));
    EXPECT_EQ(BufferCRC32(data.data(), static_cast<int32_t>(n)), expect) << n;
  }
  // Unaligned starts take the same path.
  EXPECT_EQ(BufferCRC32(data.data() + 3, 1001), static_cast<uint32_t>(crc32(0L, data.data() + 3, 1001)));
}

TEST(CompressZlibTest, CompressedAndStoredForms) {
  TCompAlgo_Zlib z(nullptr);
  TMemoryStream src, dst, back;
  // 1000 zero bytes: 1000, then a short zlib stream, the same stream raw compress2 makes.
  Fill(src, std::vector<uint8_t>(1000, 0));
  z.EncodeStream(&src, &dst, 0);
  ASSERT_GT(dst.Size(), 6);
  EXPECT_LT(dst.Size(), 40);
  EXPECT_EQ(Int32At(dst, 0), 1000);
  std::vector<uint8_t> ref(compressBound(1000));
  uLongf refLen = ref.size();
  ASSERT_EQ(compress2(ref.data(), &refLen, src.Memory(), 1000, Z_DEFAULT_COMPRESSION), Z_OK);
  EXPECT_EQ(std::vector<uint8_t>(dst.Memory() + 4, dst.Memory() + dst.Size()),
            std::vector<uint8_t>(ref.begin(), ref.begin() + static_cast<long>(refLen)));
  z.DecodeStream(&dst, &back, 0);
  EXPECT_EQ(Bytes(back), std::vector<uint8_t>(1000, 0));
  EXPECT_EQ(back.Position(), 0);

  // 3 random bytes do not compress: -3 and the bytes.
  const std::vector<uint8_t> three = {0x9C, 0x01, 0xF7};
  Fill(src, three);
  z.EncodeStream(&src, &dst, 0);
  ASSERT_EQ(dst.Size(), 7);
  EXPECT_EQ(Int32At(dst, 0), -3);
  EXPECT_EQ(0, std::memcmp(dst.Memory() + 4, three.data(), 3));
  z.DecodeStream(&dst, &back, 0);
  EXPECT_EQ(Bytes(back), three);

  // Empty in, empty out, both ways; a stale destination is cleared.
  Fill(src, {});
  Fill(dst, {1, 2, 3});
  z.EncodeStream(&src, &dst, 0);
  EXPECT_EQ(dst.Size(), 0);
  Fill(back, {1});
  z.DecodeStream(&dst, &back, 0);
  EXPECT_EQ(back.Size(), 0);
}

TEST(CompressZlibTest, RoundTripsAcrossPiecesAndLevels) {
  const struct {
    std::vector<uint8_t> data;
    bool stored;
  } cases[] = {{TextLike(300000), false},
               {RandomBytes(200000, 1), true},
               {TextLike(1), true},
               {TextLike(65536), false}};
  for (uint8_t level : {0, 1, 2, 3, 7}) {
    for (const auto& c : cases) {
      TCompAlgo_Zlib z(nullptr);
      z.SetLevel(level);
      TMemoryStream src, dst, back;
      Fill(src, c.data);
      z.EncodeStream(&src, &dst, 0);
      // Level 7 maps to zlib's stored blocks, which never pay.
      const bool stored = c.stored || level > 3;
      EXPECT_EQ(Int32At(dst, 0),
                stored ? -static_cast<int32_t>(c.data.size()) : static_cast<int32_t>(c.data.size()))
          << int(level) << " " << c.data.size();
      z.DecodeStream(&dst, &back, 0);
      EXPECT_EQ(Bytes(back), c.data) << int(level) << " " << c.data.size();
    }
  }
}

// A stream that is not a memory stream, for the module's general path.
class TPlainStream : public TStream {
 public:
  int32_t Read(void* buffer, int32_t count) override { return inner_.Read(buffer, count); }
  int32_t Write(const void* buffer, int32_t count) override { return inner_.Write(buffer, count); }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return inner_.Seek(offset, origin); }
  void SetSize(int64_t n) override { inner_.SetSize(n); }
  TMemoryStream& Inner() { return inner_; }

 private:
  TMemoryStream inner_;
};

TEST(CompressZlibTest, OtherStreamKinds) {
  TCompAlgo_Zlib z(nullptr);
  const auto text = TextLike(200000);
  TPlainStream src, packed, back;
  src.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
  z.EncodeStream(&src, &packed, 0);
  EXPECT_EQ(Int32At(packed.Inner(), 0), 200000);
  z.DecodeStream(&packed, &back, 0);
  EXPECT_EQ(Bytes(back.Inner()), text);
  EXPECT_EQ(back.Position(), 0);
  // Cut short on the general path too.
  TPlainStream cut, out;
  cut.WriteBuffer(packed.Inner().Memory(), static_cast<int32_t>(packed.Size() - 10));
  EXPECT_THROW(z.DecodeStream(&cut, &out, 0), EReadError);
}

TEST(CompressZlibTest, LevelMapping) {
  const int expect[] = {9, -1, 1, 1, 0, 0, 0};
  for (uint8_t level = 0; level < 7; ++level)
    EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(level), expect[level]) << int(level);
  EXPECT_EQ(TCompAlgo_Zlib::ZlibLevel(255), 0);
  TCompAlgo_Zlib z(nullptr);
  EXPECT_EQ(z.GetLevel(), 1);
}

TEST(CompressZlibTest, DamagedInput) {
  TCompAlgo_Zlib z(nullptr);
  TMemoryStream src, dst;
  Fill(src, TextLike(100000));
  z.EncodeStream(&src, &dst, 0);
  const auto good = Bytes(dst);

  const auto readError = [&](std::vector<uint8_t> bytes) {
    TMemoryStream in, out;
    Fill(in, bytes);
    try {
      z.DecodeStream(&in, &out, 0);
    } catch (const EReadError& e) {
      return std::string(e.what());
    } catch (const EDecompressionError& e) {
      return "decompression " + std::string(e.what());
    }
    return std::string("no error");
  };
  // Cut short: the data ends before the stated length.
  EXPECT_EQ(readError(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(good.size() / 2))),
            "Stream read error");
  // A length above what the stream holds, up to the largest int32: no giant allocation, a read error.
  for (int32_t claimed : {100001, 0x7FFFFFFF}) {
    auto bytes = good;
    std::memcpy(bytes.data(), &claimed, 4);
    EXPECT_EQ(readError(bytes), "Stream read error") << claimed;
  }
  // Shorter than the length field.
  EXPECT_EQ(readError({0x10, 0x00}), "Stream read error");
  // Not a zlib stream.
  EXPECT_EQ(readError({0x10, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "decompression error");
  // A damaged checksum at the end of the stream, or a stream cut inside it, is not taken as data.
  auto badSum = good;
  badSum.back() ^= 0x01;
  EXPECT_EQ(readError(badSum), "decompression error");
  EXPECT_EQ(readError(std::vector<uint8_t>(good.begin(), good.end() - 2)), "Stream read error");
  // A shorter claimed length yields exactly that many bytes.
  auto prefix = good;
  const int32_t fewer = 10;
  std::memcpy(prefix.data(), &fewer, 4);
  TMemoryStream in, out;
  Fill(in, prefix);
  z.DecodeStream(&in, &out, 0);
  EXPECT_EQ(Bytes(out), std::vector<uint8_t>(src.Memory(), src.Memory() + 10));
  // A negative length returns the rest unchanged.
  Fill(in, {0xFE, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'});
  z.DecodeStream(&in, &out, 0);
  EXPECT_EQ(Bytes(out), (std::vector<uint8_t>{'a', 'b', 'c'}));
}

TEST(CompressZlibTest, ProgressThroughTheManager) {
  TDataProcessOwner owner;
  TObject database;
  owner.RelaySender = &database;
  std::vector<int> compress, uncompress;
  owner.OnCompressProgress = [&](TObject* sender, int p) {
    EXPECT_EQ(sender, &database);
    compress.push_back(p);
  };
  owner.OnUncompressProgress = [&](TObject*, int p) { uncompress.push_back(p); };
  TCompressMgr cm(&owner);
  cm.SetAlgoName("zlib");
  TMemoryStream src, dst, back;
  Fill(src, RandomBytes(300000, 3));  // incompressible: several full 64 KiB output pieces
  cm.EncodeStream(&src, &dst, 0);
  ASSERT_GE(compress.size(), 3u);
  for (size_t i = 1; i < compress.size(); ++i) EXPECT_GE(compress[i], compress[i - 1]);
  EXPECT_LE(compress.back(), 100);
  Fill(src, TextLike(500000));
  cm.EncodeStream(&src, &dst, 0);
  cm.DecodeStream(&dst, &back, 0);
  ASSERT_FALSE(uncompress.empty());
  EXPECT_EQ(uncompress.back(), 100);
  EXPECT_EQ(back.Size(), 500000);
}

TEST(CompressZlibTest, SameStreamOnBothSides) {
  TCompAlgo_Zlib z(nullptr);
  TMemoryStream s;
  const auto text = TextLike(5000);
  Fill(s, text);
  z.EncodeStream(&s, &s, 0);
  EXPECT_EQ(Int32At(s, 0), 5000);
  z.DecodeStream(&s, &s, 0);
  EXPECT_EQ(Bytes(s), text);
}

}  // namespace
}  // namespace lanqi
