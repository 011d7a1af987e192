#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/Enc_Blowfish.h"
#include "crypto/Enc_Gost.h"
#include "crypto/Enc_Twofish.h"
#include "crypto/HashBytes.h"
#include "crypto/Hash_SHA.h"

namespace lanqi {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

std::string ToHex(const Bytes& b) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (uint8_t v : b) {
    s += kHex[v >> 4];
    s += kHex[v & 0xF];
  }
  return s;
}

Bytes Pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 37 + (i >> 3));
  return b;
}

Bytes EncryptBlock(TEncrypt& c, Bytes block) {
  c.EncodeBlock(block.data());
  return block;
}

class PublishedTwofish : public TEnc_Twofish {
 public:
  PublishedTwofish() : TEnc_Twofish(true) {}
};

struct KnownAnswer {
  std::string key, plain, cipher;
};

TEST(CipherTest, BlowfishMatchesPublishedVectors) {
  const KnownAnswer cases[] = {
      {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
      {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
      {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
      {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
      {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
      {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
      {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
      {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
      // Variable key lengths: 1 and 24 bytes of F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677.
      {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
      {"F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677", "FEDCBA9876543210", "05044B62FA52D080"},
  };
  for (const auto& c : cases) {
    TEnc_Blowfish bf;
    const Bytes key = FromHex(c.key);
    bf.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    Bytes block = FromHex(c.plain);
    bf.EncodeBlock(block.data());
    EXPECT_EQ(ToHex(block), c.cipher) << c.key;
    bf.DecodeBlock(block.data());
    EXPECT_EQ(ToHex(block), c.plain) << c.key;
  }
}

TEST(CipherTest, TwofishBuildingBlocks) {
  // The first bytes of the published q0 and q1 permutations.
  const uint8_t q0[] = {0xA9, 0x67, 0xB3, 0xE8, 0x04, 0xFD, 0xA3, 0x76};
  const uint8_t q1[] = {0x75, 0xF3, 0xC6, 0xF4, 0xDB, 0x7B, 0xFB, 0xC8};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(TwofishQ(0, static_cast<uint8_t>(i)), q0[i]) << i;
    EXPECT_EQ(TwofishQ(1, static_cast<uint8_t>(i)), q1[i]) << i;
  }
  for (int w = 0; w < 2; ++w) {
    std::vector<bool> seen(256);
    for (int x = 0; x < 256; ++x) seen[TwofishQ(w, static_cast<uint8_t>(x))] = true;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 256) << "q" << w << " is a permutation";
  }
  // MDS columns; and the matrix is linear over GF(2).
  EXPECT_EQ(TwofishMDS(0x00000001), 0xEFEF5B01u);
  EXPECT_EQ(TwofishMDS(0x00000100), 0x015BEFEFu);
  EXPECT_EQ(TwofishMDS(0x12345678 ^ 0x0F0F0F0F), TwofishMDS(0x12345678) ^ TwofishMDS(0x0F0F0F0F));
  // RS: a unit byte in position j yields column j of the RS matrix.
  uint8_t m[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(TwofishRS(m), 0xA402A401u);
  m[0] = 0;
  m[7] = 1;
  EXPECT_EQ(TwofishRS(m), 0x0319E59Eu);
  // h with an all-zero key list is the MDS of the q chains of each byte.
  const uint32_t zero[4] = {};
  const uint32_t y = TwofishQ(1, TwofishQ(0, TwofishQ(0, 0))) |
                     TwofishQ(0, TwofishQ(0, TwofishQ(1, 0))) << 8 |
                     TwofishQ(1, TwofishQ(1, TwofishQ(0, 0))) << 16 |
                     static_cast<uint32_t>(TwofishQ(0, TwofishQ(1, TwofishQ(1, 0)))) << 24;
  EXPECT_EQ(TwofishH(0, zero, 2), TwofishMDS(y));
}

TEST(CipherTest, PublishedTwofishMatchesPublishedVectors) {
  const KnownAnswer cases[] = {
      {"00000000000000000000000000000000", "00000000000000000000000000000000",
       "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
      {"00000000000000000000000000000000", "9F589F5CF6122C32B6BFEC2F2AE8C35A",
       "D491DB16E7B1C39E86CB086B789F5419"},
      {"9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419",
       "019F9809DE1711858FAAC3A3BA20FBC3"},
      {"0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
       "CFD1D2E5A9BE9CDF501F13B892BD2248"},
      {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF", "00000000000000000000000000000000",
       "37527BE0052334B89F0CFCCAE87CFA20"},
  };
  for (const auto& c : cases) {
    PublishedTwofish tf;
    const Bytes key = FromHex(c.key);
    tf.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    Bytes block = FromHex(c.plain);
    tf.EncodeBlock(block.data());
    EXPECT_EQ(ToHex(block), c.cipher) << c.key;
    tf.DecodeBlock(block.data());
    EXPECT_EQ(ToHex(block), c.plain) << c.key;
  }
}

// The variant, computed from the definition with the published building blocks: subkeys with
// ROL(A + (B >> 1), 9) for the odd words, g through h, and 30 rounds over pairs 0,1,1,2,...,14,15.
Bytes VariantTwofishReference(const Bytes& key, const Bytes& plain, uint32_t* oddKeys = nullptr) {
  uint8_t m[32] = {};
  std::memcpy(m, key.data(), key.size());
  const int n = key.size() <= 16 ? 16 : key.size() <= 24 ? 24 : 32;
  const int k = n / 8;
  uint32_t me[4], mo[4], s[4];
  for (int i = 0; i < k; ++i) {
    me[i] = LoadLE32(m + 8 * i);
    mo[i] = LoadLE32(m + 8 * i + 4);
    s[k - 1 - i] = TwofishRS(m + 8 * i);
  }
  uint32_t K[40];
  for (uint32_t i = 0; i < 20; ++i) {
    const uint32_t a = TwofishH(2 * i * 0x01010101u, me, k);
    const uint32_t b = Rol32(TwofishH((2 * i + 1) * 0x01010101u, mo, k), 8);
    K[2 * i] = a + b;
    K[2 * i + 1] = Rol32(a + (b >> 1), 9);
    if (oddKeys) oddKeys[i] = Rol32(a + 2 * b, 9);  // what the published cipher would use
  }
  auto g = [&](uint32_t x) { return TwofishH(x, s, k); };
  uint32_t r[4];
  for (int i = 0; i < 4; ++i) r[i] = LoadLE32(plain.data() + 4 * i) ^ K[i];
  int pairs[30];
  for (int j = 0; j < 15; ++j) {
    pairs[2 * j] = j;
    pairs[2 * j + 1] = j + 1;
  }
  for (int round = 0; round < 30; ++round) {
    const int p = pairs[round];
    const uint32_t t0 = g(r[0]), t1 = g(Rol32(r[1], 8));
    const uint32_t n2 = Ror32(r[2] ^ (t0 + t1 + K[8 + 2 * p]), 1);
    const uint32_t n3 = Rol32(r[3], 1) ^ (t0 + 2 * t1 + K[9 + 2 * p]);
    r[2] = r[0];
    r[3] = r[1];
    r[0] = n2;
    r[1] = n3;
  }
  // Output word i is R[(i + 2) mod 4] after whitening: the last exchange undone.
  Bytes out(16);
  for (int i = 0; i < 4; ++i) StoreLE32(out.data() + 4 * i, r[(i + 2) % 4] ^ K[4 + i]);
  return out;
}

TEST(CipherTest, TwofishVariantDiffersOnlyInOddSubkeysAndRounds) {
  for (size_t keyLen : {1u, 16u, 20u, 24u, 32u}) {
    const Bytes key = Pattern(keyLen, 5);
    TEnc_Twofish variant;
    PublishedTwofish published;
    variant.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    published.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    uint32_t publishedOdd[20];
    const Bytes plain = Pattern(16, 9);
    EXPECT_EQ(ToHex(EncryptBlock(variant, plain)), ToHex(VariantTwofishReference(key, plain, publishedOdd)))
        << keyLen;
    for (int i = 0; i < 20; ++i) {
      EXPECT_EQ(variant.SubKeys()[2 * i], published.SubKeys()[2 * i]) << keyLen << " even " << i;
      EXPECT_EQ(published.SubKeys()[2 * i + 1], publishedOdd[i]) << keyLen << " published odd " << i;
    }
    EXPECT_NE(ToHex(EncryptBlock(variant, plain)), ToHex(EncryptBlock(published, plain)));
    Bytes block = EncryptBlock(variant, plain);
    variant.DecodeBlock(block.data());
    EXPECT_EQ(block, plain) << keyLen;
  }
}

TEST(CipherTest, TwofishKeyPadding) {
  const struct {
    size_t length;
    int32_t padded;
  } cases[] = {{1, 16}, {16, 16}, {17, 24}, {20, 24}, {24, 24}, {25, 32}, {40, 32}};
  for (const auto& c : cases) {
    const Bytes key = Pattern(c.length);
    TEnc_Twofish a, b;
    a.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    EXPECT_EQ(a.PaddedKeySize(), c.padded) << c.length;
    // Zero padding: the same as handing over the padded key.
    Bytes padded(static_cast<size_t>(c.padded));
    std::memcpy(padded.data(), key.data(), std::min(key.size(), padded.size()));
    b.Init(padded.data(), c.padded, nullptr);
    EXPECT_EQ(0, std::memcmp(a.SubKeys(), b.SubKeys(), 40 * 4)) << c.length;
  }
}

// GOST from the definition: f(x) = ROL(S(x), 11) with S-box 1 on the lowest nibble.
Bytes GostReference(const Bytes& key, const Bytes& plain) {
  uint8_t kb[32] = {};
  std::memcpy(kb, key.data(), std::min<size_t>(key.size(), 32));
  uint32_t K[8];
  for (int i = 0; i < 8; ++i) K[i] = LoadLE32(kb + 4 * i);
  auto f = [](uint32_t x) {
    uint32_t s = 0;
    for (int i = 0; i < 8; ++i) s |= static_cast<uint32_t>(kGostSBox[i][(x >> (4 * i)) & 0xF]) << (4 * i);
    return Rol32(s, 11);
  };
  int order[32];
  for (int i = 0; i < 24; ++i) order[i] = i % 8;
  for (int i = 0; i < 8; ++i) order[24 + i] = 7 - i;
  uint32_t n1 = LoadLE32(plain.data()), n2 = LoadLE32(plain.data() + 4);
  for (int r = 0; r < 32; r += 2) {
    n2 ^= f(n1 + K[order[r]]);
    n1 ^= f(n2 + K[order[r + 1]]);
  }
  Bytes out(8);
  StoreLE32(out.data(), n2);
  StoreLE32(out.data() + 4, n1);
  return out;
}

TEST(CipherTest, GostMatchesItsDefinition) {
  const uint8_t s1[] = {4, 10, 9, 2, 13};
  EXPECT_EQ(0, std::memcmp(kGostSBox[0], s1, 5));
  for (size_t keyLen : {20u, 32u}) {
    const Bytes key = Pattern(keyLen, 3);
    TEnc_Gost gost;
    gost.Init(key.data(), static_cast<int32_t>(key.size()), nullptr);
    for (uint8_t seed : {0, 1, 200}) {
      const Bytes plain = Pattern(8, seed);
      Bytes block = EncryptBlock(gost, plain);
      EXPECT_EQ(ToHex(block), ToHex(GostReference(key, plain))) << keyLen;
      gost.DecodeBlock(block.data());
      EXPECT_EQ(block, plain);
    }
  }
}

// ---- the chaining framework ----

std::unique_ptr<TEncrypt> MakeCipher(int which) {
  switch (which) {
    case 0:
      return std::make_unique<TEnc_Blowfish>();
    case 1:
      return std::make_unique<TEnc_Twofish>();
    default:
      return std::make_unique<TEnc_Gost>();
  }
}

// The modes from their definitions, over a cipher keyed the same way.
Bytes ReferenceEncode(TEncrypt& c, uint8_t mode, const Bytes& in) {
  const size_t b = static_cast<size_t>(c.BlockSize());
  Bytes f(c.Vector(), c.Vector() + b), out(in.size());
  size_t full = in.size() / b * b;
  if (mode == cmCFB8 || mode == cmOFB8) {
    for (size_t i = 0; i < in.size(); ++i) {
      Bytes k = EncryptBlock(c, f);
      out[i] = in[i] ^ k[0];
      f.erase(f.begin());
      f.push_back(mode == cmCFB8 ? out[i] : k[0]);
    }
    return out;
  }
  for (size_t i = 0; i < full; i += b) {
    Bytes p(in.begin() + static_cast<long>(i), in.begin() + static_cast<long>(i + b));
    if (mode != cmECB)
      for (size_t j = 0; j < b; ++j) p[j] ^= f[j];
    Bytes cb = EncryptBlock(c, p);
    if (mode == cmCBC) f = cb;
    if (mode == cmChainXor)
      for (size_t j = 0; j < b; ++j) f[j] ^= cb[j];
    std::copy(cb.begin(), cb.end(), out.begin() + static_cast<long>(i));
  }
  if (full < in.size()) {
    if (mode == cmECB) {
      std::copy(in.begin() + static_cast<long>(full), in.end(), out.begin() + static_cast<long>(full));
    } else {
      Bytes k = EncryptBlock(c, f);
      for (size_t j = full; j < in.size(); ++j) out[j] = in[j] ^ k[j - full];
    }
  }
  return out;
}

TEST(CipherTest, ModesMatchTheirDefinitionsAndRoundTrip) {
  for (int which = 0; which < 3; ++which) {
    for (uint8_t mode = 0; mode <= 4; ++mode) {
      for (size_t len : {0u, 1u, 7u, 8u, 13u, 16u, 20u, 33u, 100u}) {
        auto c = MakeCipher(which);
        c->SetCipherMode(mode);
        c->InitKey("password");
        const Bytes plain = Pattern(len);
        Bytes enc(len);
        c->EncodeBuffer(plain.data(), enc.data(), static_cast<int32_t>(len));
        EXPECT_EQ(ToHex(enc), ToHex(ReferenceEncode(*c, mode, plain)))
            << which << " " << int(mode) << " " << len;
        // In place, from the vector again.
        c->Done();
        Bytes buf = enc;
        c->DecodeBuffer(buf.data(), buf.data(), static_cast<int32_t>(len));
        EXPECT_EQ(buf, plain) << which << " " << int(mode) << " " << len;
      }
    }
  }
}

TEST(CipherTest, CbcTwentyBytesOnEightByteBlocks) {
  TEnc_Blowfish c;
  c.SetCipherMode(cmCBC);
  c.InitKey("key");
  const Bytes plain = Pattern(20);
  Bytes enc(20);
  c.EncodeBuffer(plain.data(), enc.data(), 20);
  // Two CBC blocks, then 4 bytes XORed with the encryption of the second ciphertext block.
  Bytes p1(plain.begin(), plain.begin() + 8), p2(plain.begin() + 8, plain.begin() + 16);
  for (int i = 0; i < 8; ++i) p1[i] ^= c.Vector()[i];
  const Bytes c1 = EncryptBlock(c, p1);
  for (int i = 0; i < 8; ++i) p2[i] ^= c1[i];
  const Bytes c2 = EncryptBlock(c, p2);
  const Bytes k = EncryptBlock(c, c2);
  EXPECT_EQ(Bytes(enc.begin(), enc.begin() + 8), c1);
  EXPECT_EQ(Bytes(enc.begin() + 8, enc.begin() + 16), c2);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(enc[16 + i], plain[16 + i] ^ k[i]);
  EXPECT_EQ(Bytes(c.Feedback(), c.Feedback() + 8), c2);
  Bytes dec(20);
  c.Done();
  c.DecodeBuffer(enc.data(), dec.data(), 20);
  EXPECT_EQ(dec, plain);
  EXPECT_EQ(Bytes(c.Feedback(), c.Feedback() + 8), c2);
}

TEST(CipherTest, OneCallEqualsSplitCalls) {
  for (int which = 0; which < 3; ++which) {
    for (uint8_t mode : {cmChainXor, cmCBC, cmCFB8, cmOFB8}) {
      auto c = MakeCipher(which);
      c->SetCipherMode(mode);
      c->InitKey("split");
      const Bytes plain = Pattern(20);
      Bytes one(20), split(20);
      c->EncodeBuffer(plain.data(), one.data(), 20);
      c->Done();
      c->EncodeBuffer(plain.data(), split.data(), 16);
      c->EncodeBuffer(plain.data() + 16, split.data() + 16, 4);
      EXPECT_EQ(one, split) << which << " " << int(mode);
      c->Done();
      Bytes dec(20);
      c->DecodeBuffer(one.data(), dec.data(), 16);
      c->DecodeBuffer(one.data() + 16, dec.data() + 16, 4);
      EXPECT_EQ(dec, plain) << which << " " << int(mode);
    }
  }
}

TEST(CipherTest, EcbLeavesPartialTailUnchanged) {
  TEnc_Blowfish c;
  c.SetCipherMode(cmECB);
  c.InitKey("ecb");
  const Bytes plain = Pattern(13);
  Bytes buf = plain;
  c.EncodeBuffer(buf.data(), buf.data(), 13);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 8), EncryptBlock(c, Bytes(plain.begin(), plain.begin() + 8)));
  EXPECT_EQ(Bytes(buf.begin() + 8, buf.end()), Bytes(plain.begin() + 8, plain.end()));
}

TEST(CipherTest, InitKeyDerivesKeyAndVectorFromSha0) {
  for (int which = 0; which < 3; ++which) {
    auto a = MakeCipher(which), b = MakeCipher(which), byKey = MakeCipher(which);
    a->InitKey("secret");
    b->InitKey("secret");
    uint8_t digest[20];
    HashString<THash_SHA>("secret", digest);
    byKey->Init(digest, 20, nullptr);
    const int32_t bs = a->BlockSize();
    const Bytes ff(static_cast<size_t>(bs), 0xFF);
    EXPECT_EQ(Bytes(a->Vector(), a->Vector() + bs), EncryptBlock(*byKey, ff)) << which;
    EXPECT_EQ(Bytes(a->Feedback(), a->Feedback() + bs), Bytes(a->Vector(), a->Vector() + bs));
    const Bytes plain = Pattern(50);
    Bytes x(50), y(50);
    a->EncodeBuffer(plain.data(), x.data(), 50);
    b->EncodeBuffer(plain.data(), y.data(), 50);
    EXPECT_EQ(x, y);
    // The hash object no longer holds the key in clear.
    EXPECT_NE(0, std::memcmp(a->GetHash().DigestKey(), digest, 20));
  }
  // 20 key bytes pad to a 192-bit Twofish key.
  TEnc_Twofish tf;
  tf.InitKey("secret");
  EXPECT_EQ(tf.PaddedKeySize(), 24);
}

TEST(CipherTest, BufferOperationsNeedAKey) {
  const struct {
    int which;
    const char* text;
  } cases[] = {{0, "TEnc_Blowfish is not initialized call Init() or InitKey() before."},
               {1, "TEnc_Twofish is not initialized call Init() or InitKey() before."},
               {2, "TEnc_Gost is not initialized call Init() or InitKey() before."}};
  for (const auto& c : cases) {
    auto cipher = MakeCipher(c.which);
    uint8_t buf[8] = {};
    for (int pass = 0; pass < 2; ++pass) {
      try {
        if (pass == 0)
          cipher->EncodeBuffer(buf, buf, 8);
        else
          cipher->DecodeBuffer(buf, buf, 8);
        ADD_FAILURE() << "no error";
      } catch (const EEncryptException& e) {
        EXPECT_STREQ(e.what(), c.text);
        EXPECT_EQ(e.ErrorCode(), 3);
      }
    }
    cipher->InitKey("k");
    EXPECT_NO_THROW(cipher->EncodeBuffer(buf, buf, 8));
    cipher->Protect();
    EXPECT_THROW(cipher->EncodeBuffer(buf, buf, 8), EEncryptException);
  }
}

TEST(CipherTest, OverlongKeyIsCut) {
  const Bytes key = Pattern(80);
  TEnc_Blowfish a, b;
  a.Init(key.data(), 80, nullptr);
  b.Init(key.data(), 56, nullptr);
  EXPECT_EQ(0, std::memcmp(a.Vector(), b.Vector(), 8));
  TEnc_Blowfish empty;
  empty.Init(nullptr, 0, nullptr);  // defined: the schedule runs over the pi digits alone
  uint8_t block[8] = {};
  EXPECT_NO_THROW(empty.EncodeBuffer(block, block, 8));
}

}  // namespace
}  // namespace lanqi
