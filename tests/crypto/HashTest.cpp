#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "crypto/Hash_CheckSum.h"
#include "crypto/Hash_MD.h"
#include "crypto/Hash_RipeMD.h"
#include "crypto/Hash_SHA.h"

namespace lanqi {
namespace {

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

template <class H>
std::string Hex(const std::string& text) {
  H h;
  h.InitHash();
  h.Calc(text.data(), static_cast<int32_t>(text.size()));
  h.DoneHash();
  return h.DigestStr(16);
}

struct Vector {
  std::string message;
  std::string digest;
};

const std::string kMillionA(1000000, 'a');

TEST(HashTest, Md4MatchesRfc1320Suite) {
  const Vector cases[] = {
      {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
      {"a", "bde52cb31de33e46245e05fbdbd6fb24"},
      {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
      {"message digest", "d9130a8164549fe818874806e1c7014b"},
      {"abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "e33b4ddc9c38f2199c3e7b164fcc0536"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex<THash_MD4>(c.message), Upper(c.digest)) << c.message;
}

TEST(HashTest, RipeMd160MatchesPublishedVectors) {
  const Vector cases[] = {
      {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "b0e20b6e3116640286ed3a87a5713079b21f5189"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
      {kMillionA, "52783243c1697bdbe16d37f97f68f08325dc1528"},
  };
  for (const auto& c : cases) EXPECT_EQ(Hex<THash_RipeMD160>(c.message), Upper(c.digest)) << c.message.size();
}

// Runs a check with the processor's SHA instructions and with the portable compression.
template <class F>
void BothShaPaths(F check) {
  for (bool hardware : {true, false}) {
    if (hardware && !ShaExtensionsAvailable()) continue;
    UseShaExtensions(hardware);
    check();
  }
  UseShaExtensions(true);
}

TEST(HashTest, ShaIsSha0NotSha1) {
  const Vector cases[] = {
      {"abc", "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "d2516ee1acfa5baf33dfc1c471e438449ef134c8"},
      {kMillionA, "3232affa48628a26653b5aaa44541fd90d690603"},
  };
  BothShaPaths([&] {
    for (const auto& c : cases) EXPECT_EQ(Hex<THash_SHA>(c.message), Upper(c.digest)) << c.message.size();
  });
}

// The schedule rotation is the only difference from SHA-1; switched on, the same code must give
// the published SHA-1 digests, which checks everything else about the compression.
class Sha1ForTest : public THash_SHA {
 public:
  Sha1ForTest() { RotateSchedule = 1; }
};

TEST(HashTest, ShaWithRotatedScheduleIsSha1) {
  BothShaPaths([] {
    EXPECT_EQ(Hex<Sha1ForTest>("abc"), Upper("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(Hex<Sha1ForTest>(std::string(1000, 'a')), Upper("291e9a6c66994949b57ba5e650361e98fc36b1ba"));
  });
}

// Any split of the data over Calc calls, including empty calls, gives the one-call digest. (Not
// THash_XOR32: its odd-length rule applies per call.)
template <class H>
void ExpectSplitsAgree() {
  std::vector<uint8_t> data(300);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::string whole = HashBuffer<H>(data.data(), static_cast<int32_t>(data.size()));
  const std::vector<std::vector<int>> splits = {{1, 299},     {63, 1, 236},  {64, 0, 236}, {65, 64, 171},
                                                {55, 1, 244}, {56, 200, 44}, {0, 300}};
  for (const auto& split : splits) {
    H h;
    h.InitHash();
    size_t pos = 0;
    for (int part : split) {
      h.Calc(data.data() + pos, part);
      pos += static_cast<size_t>(part);
    }
    h.DoneHash();
    EXPECT_EQ(h.DigestStr(0), whole) << split[0];
  }
}

TEST(HashTest, SplitCallsEqualOneCall) {
  ExpectSplitsAgree<THash_MD4>();
  ExpectSplitsAgree<THash_RipeMD160>();
  BothShaPaths([] { ExpectSplitsAgree<THash_SHA>(); });
  ExpectSplitsAgree<THash_CRC32>();
}

// The bit count is Count * 8 in 32 bits: 2^29 more bytes leave the length field, and so the
// digest, unchanged. Stored check texts depend on this, long inputs being hashed the same way.
template <class H>
class CountForTest : public H {
 public:
  void AddToCount(uint32_t n) { this->Count += n; }
};

template <class H>
void ExpectLengthFieldWraps() {
  CountForTest<H> plain, wrapped;
  plain.InitHash();
  wrapped.InitHash();
  plain.Calc("abcde", 5);
  wrapped.Calc("abcde", 5);
  wrapped.AddToCount(1u << 29);  // a multiple of 64: the block position is unchanged
  plain.DoneHash();
  wrapped.DoneHash();
  EXPECT_EQ(wrapped.DigestStr(16), plain.DigestStr(16));
}

TEST(HashTest, LengthFieldIsTakenIn32Bits) {
  ExpectLengthFieldWraps<THash_MD4>();
  ExpectLengthFieldWraps<THash_RipeMD160>();
  ExpectLengthFieldWraps<THash_SHA>();
}

TEST(HashTest, DigestBase64VariantStopsGroupsAtTrailingZeroBits) {
  const struct {
    std::vector<uint8_t> bytes;
    std::string text;
  } cases[] = {
      {{'a', 'b', 'c'}, "YWJj"},
      {{0x41, 0x40}, "QU="},
      {{0x41, 0x00, 0x00}, "QQ"},
      {{0, 0, 0}, ""},
      {{0, 0, 1}, "AAAB"},
      {{0x41}, "QQ=="},
      {{}, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DigestBase64(c.bytes.data(), static_cast<int32_t>(c.bytes.size())), c.text) << c.text;
}

TEST(HashTest, DigestTextFormats) {
  uint8_t digest[20];
  // The password check text of "abc": standard Base64 would end "+IA=".
  EXPECT_EQ(HashString<THash_SHA>("abc", digest), "AWS4qRTNKl50xPf/CCxNl/Ht+I=");
  EXPECT_EQ(digest[0], 0x01);
  EXPECT_EQ(digest[19], 0x80);

  THash_SHA sha;
  sha.InitHash();
  sha.Calc("abc", 3);
  sha.DoneHash();
  EXPECT_EQ(sha.DigestStr(64), sha.DigestStr(0));
  EXPECT_EQ(sha.DigestStr(16), "0164B8A914CD2A5E74C4F7FF082C4D97F1EDF880");
  const std::string raw = sha.DigestStr(7);
  ASSERT_EQ(raw.size(), 20u);
  EXPECT_EQ(0, std::memcmp(raw.data(), digest, 20));

  THash_MD4 md4;
  md4.InitHash();
  md4.DoneHash();
  EXPECT_EQ(md4.DigestStr(16).size(), 32u);
}

TEST(HashTest, Checksums) {
  EXPECT_EQ(BufferCRC32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(BufferCRC32("The quick brown fox jumps over the lazy dog", 43), 0x414FA339u);
  EXPECT_EQ(BufferCRC32(nullptr, 0), 0u);
  // CRC digest bytes are the little-endian checksum.
  uint8_t d[4];
  HashBuffer<THash_CRC32>("123456789", 9, d);
  EXPECT_EQ(d[0], 0x26);
  EXPECT_EQ(d[3], 0xCB);

  const struct {
    std::vector<uint8_t> bytes;
    uint32_t sum;
  } xors[] = {
      {{0x01, 0x02, 0x03}, 0x4322},  // 0x0201, then ROL 5 and the word 0x0302
      {{0x01, 0x02}, 0x0201},
      {{0xAB}, 0x00AB},  // a lone byte pairs with zero, never with the byte past the data
      {{}, 0},
  };
  for (const auto& c : xors) {
    uint8_t x[4];
    HashBuffer<THash_XOR32>(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), x);
    const uint32_t got = x[0] | x[1] << 8 | x[2] << 16 | static_cast<uint32_t>(x[3]) << 24;
    EXPECT_EQ(got, c.sum) << c.bytes.size();
  }
}

TEST(HashTest, DestroyedHashWipesItsDigest) {
  alignas(THash_SHA) unsigned char storage[sizeof(THash_SHA)];
  auto* h = new (storage) THash_SHA();
  h->InitHash();
  h->Calc("secret", 6);
  h->DoneHash();
  std::vector<uint8_t> digest(h->DigestKey(), h->DigestKey() + 20);
  auto contains = [&] {
    return std::search(storage, storage + sizeof storage, digest.begin(), digest.end()) !=
           storage + sizeof storage;
  };
  ASSERT_TRUE(contains());
  h->~THash_SHA();
  EXPECT_FALSE(contains());
}

}  // namespace
}  // namespace lanqi
