#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "crypto/EncryptBase.h"
#include "engine/storage/Compress_Zlib.h"
#include "engine/storage/DataProcessAlgo.h"
#include "engine/storage/DataProcessMgr.h"
#include "engine/storage/EncAlgo.h"
#include "rtl/Exceptions.h"

namespace lanqi {
namespace {

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 131 + (i >> 7));
  return b;
}

std::string ErrorText(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "no error";
}

TEST(ModulesTest, StandardRegistrationsInOrder) {
  ASSERT_GE(CompressModules().size(), 1u);
  EXPECT_EQ(CompressModules()[0].Name, "ZLIB");
  ASSERT_GE(EncryptModules().size(), 3u);
  EXPECT_EQ(EncryptModules()[0].Name, "Blowfish");
  EXPECT_EQ(EncryptModules()[1].Name, "Twofish");
  EXPECT_EQ(EncryptModules()[2].Name, "Gost");
}

TEST(ModulesTest, LookUpIgnoresCaseAndUnknownNamesRaise) {
  TCompressMgr cm(nullptr);
  TEncryptMgr em(nullptr);
  EXPECT_EQ(cm.IndexOfAlgo("zlib"), 0);
  EXPECT_EQ(em.IndexOfAlgo("TWOFISH"), 1);
  EXPECT_EQ(em.IndexOfAlgo("gost"), 2);
  EXPECT_EQ(ErrorText([&] { cm.SetAlgoName("LZMA"); }), "Compression algorithm module 'LZMA' not found");
  EXPECT_EQ(ErrorText([&] { em.SetAlgoName("AES"); }), "Encryption algorithm module 'AES' not found");
  EXPECT_THROW(em.IndexOfAlgo("ZLIB"), EDatabaseError);  // the lists are separate
  EXPECT_EQ(cm.Algo(), nullptr);
  cm.SetAlgoName("Zlib");
  EXPECT_NE(dynamic_cast<TCompAlgo_Zlib*>(cm.Algo()), nullptr);
}

// Another compression class, to see appending and class changes.
class TIdentityAlgo : public TCompressAlgo {
 public:
  using TCompressAlgo::TCompressAlgo;
  void EncodeStream(TStream* source, TStream* dest, int64_t) override { dest->CopyFrom(*source, 0); }
  void DecodeStream(TStream* source, TStream* dest, int64_t) override { dest->CopyFrom(*source, 0); }
};

TEST(ModulesTest, ReRegistrationRenamesAndNewClassesAppend) {
  RegisterCompressModule<TCompAlgo_Zlib>("Deflate");
  struct Restore {
    ~Restore() { RegisterCompressModule<TCompAlgo_Zlib>("ZLIB"); }
  } restore;
  TCompressMgr cm(nullptr);
  EXPECT_EQ(cm.IndexOfAlgo("deflate"), 0);
  EXPECT_THROW(cm.IndexOfAlgo("ZLIB"), EDatabaseError);

  RegisterCompressModule<TIdentityAlgo>("Identity");
  RegisterCompressModule<TIdentityAlgo>("Identity");
  EXPECT_EQ(CompressModules().size(), 2u);
  EXPECT_EQ(cm.IndexOfAlgo("IDENTITY"), 1);

  cm.SetAlgoName("Deflate");
  cm.SetAlgoName("Identity");
  EXPECT_NE(dynamic_cast<TIdentityAlgo*>(cm.Algo()), nullptr);
  cm.SetAlgoName("Deflate");
  EXPECT_NE(dynamic_cast<TCompAlgo_Zlib*>(cm.Algo()), nullptr);
}

TEST(ModulesTest, SameClassKeepsModuleAndKey) {
  TEncryptMgr em(nullptr);
  em.SetAlgoName("Blowfish");
  em.SetMode(cmCBC);
  em.InitKey("pw");
  TDataProcessAlgo* module = em.Algo();
  const auto plain = Pattern(30);
  std::vector<uint8_t> a(30), b(30);
  em.EncodeBuffer(plain.data(), a.data(), 30);
  em.SetAlgoName("BLOWFISH");
  EXPECT_EQ(em.Algo(), module);
  em.EncodeBuffer(plain.data(), b.data(), 30);
  EXPECT_EQ(a, b);
  // Another class: a fresh, unkeyed module.
  em.SetAlgoName("Gost");
  EXPECT_NE(dynamic_cast<TEncAlgo_Gost*>(em.Algo()), nullptr);
  EXPECT_THROW(em.EncodeBuffer(plain.data(), b.data(), 30), EEncryptException);
}

TEST(ModulesTest, ManagersWithoutModuleRaiseGeneralError) {
  TCompressMgr cm(nullptr);
  TEncryptMgr em(nullptr);
  TMemoryStream s;
  uint8_t buf[4] = {};
  const std::vector<std::function<void()>> calls = {
      [&] { cm.EncodeStream(&s, &s, -1); },
      [&] { cm.DecodeStream(&s, &s, -1); },
      [&] { em.EncodeStream(&s, &s, -1); },
      [&] { em.DecodeStream(&s, &s, -1); },
      [&] { em.EncodeBuffer(buf, buf, 4); },
      [&] { em.DecodeBuffer(buf, buf, 4); },
      [&] { em.SetMode(1); },
      [&] { em.InitKey("x"); },
      [&] { em.Done(); },
  };
  for (size_t i = 0; i < calls.size(); ++i) {
    try {
      calls[i]();
      ADD_FAILURE() << i << ": no error";
    } catch (const EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "General error") << i;
    }
  }
}

TEST(ModulesTest, EveryEncryptionCallIsOneMessage) {
  for (const char* name : {"Blowfish", "Twofish", "Gost"}) {
    for (uint8_t mode = 0; mode <= 4; ++mode) {
      TEncryptMgr em(nullptr);
      em.SetAlgoName(name);
      em.SetMode(mode);
      em.InitKey("password");
      const auto plain = Pattern(37);
      std::vector<uint8_t> a(37), b(37);
      em.EncodeBuffer(plain.data(), a.data(), 37);
      em.EncodeBuffer(plain.data(), b.data(), 37);
      EXPECT_EQ(a, b) << name << " " << int(mode);
      em.DecodeBuffer(b.data(), b.data(), 37);
      EXPECT_EQ(b, plain) << name << " " << int(mode);
      if (mode != cmECB) {
        EXPECT_NE(a, plain) << name;
      }
    }
  }
}

TEST(ModulesTest, StreamPassCarriesFeedbackAcrossChunksAndReportsProgress) {
  TDataProcessOwner owner;
  TObject fileObject, database;
  owner.ModuleSender = &fileObject;
  owner.RelaySender = &database;
  std::vector<int> encrypt, decrypt;
  owner.OnEncryptProgress = [&](TObject* sender, int p) {
    EXPECT_EQ(sender, &database);
    encrypt.push_back(p);
  };
  TEncryptMgr em(&owner);
  em.SetAlgoName("Twofish");
  em.SetMode(cmCBC);
  em.InitKey("stream");
  // A handler set after the module was made is still reached.
  owner.OnDecryptProgress = [&](TObject*, int p) { decrypt.push_back(p); };

  const auto plain = Pattern(10000);
  TMemoryStream src, dst;
  src.WriteBuffer(plain.data(), 10000);
  em.EncodeStream(&src, &dst, -1);
  EXPECT_EQ(encrypt, (std::vector<int>{0, 41, 82, 100, 0}));
  // The same bytes as one buffer call over the whole item.
  std::vector<uint8_t> whole(10000);
  em.EncodeBuffer(plain.data(), whole.data(), 10000);
  ASSERT_EQ(dst.Size(), 10000);
  EXPECT_EQ(0, std::memcmp(dst.Memory(), whole.data(), 10000));

  // No destination: in place.
  dst.SetPosition(0);
  em.DecodeStream(&dst, nullptr, -1);
  EXPECT_EQ(0, std::memcmp(dst.Memory(), plain.data(), 10000));
  EXPECT_EQ(decrypt, (std::vector<int>{0, 41, 82, 100, 0}));
}

TEST(ModulesTest, StreamPassFromCurrentPositionAndModuleSender) {
  TDataProcessOwner owner;
  TObject fileObject;
  owner.ModuleSender = &fileObject;
  TEncAlgo_Blowfish algo(&owner);
  std::vector<int> seen;
  algo.OnEncodeProgress = [&](TObject* sender, int p) {
    EXPECT_EQ(sender, &fileObject);
    seen.push_back(p);
  };
  algo.SetMode(cmOFB8);
  algo.InitKey("k");
  const auto plain = Pattern(100);
  TMemoryStream src, dst;
  src.WriteBuffer(plain.data(), 100);
  src.SetPosition(40);
  dst.WriteBuffer("head", 4);
  algo.EncodeStream(&src, &dst, 50);  // bytes 40..89, written after "head"
  EXPECT_EQ(seen, (std::vector<int>{0, 100, 0}));
  ASSERT_EQ(dst.Size(), 54);
  algo.Done();
  std::vector<uint8_t> expect(50);
  algo.EncodeBuffer(plain.data() + 40, expect.data(), 50);
  EXPECT_EQ(0, std::memcmp(dst.Memory() + 4, expect.data(), 50));
  // A source that ends early stops the pass; an empty pass reports 0 twice.
  seen.clear();
  TMemoryStream empty;
  algo.EncodeStream(&empty, nullptr, -1);
  EXPECT_EQ(seen, (std::vector<int>{0, 0}));
  algo.EncodeStream(nullptr, nullptr, -1);  // no source: nothing
}

// A destination that accepts only so many bytes.
class TFailingStream : public TMemoryStream {
 public:
  explicit TFailingStream(int32_t limit) : limit_(limit) {}
  int32_t Write(const void* buffer, int32_t count) override {
    if (Position() + count > limit_) return 0;
    return TMemoryStream::Write(buffer, count);
  }

 private:
  int32_t limit_;
};

TEST(ModulesTest, FailedStreamPassStillRestartsTheCipher) {
  TDataProcessOwner owner;
  std::vector<int> seen;
  owner.OnEncryptProgress = [&](TObject*, int p) { seen.push_back(p); };
  TEncryptMgr em(&owner);
  em.SetAlgoName("Gost");
  em.SetMode(cmChainXor);
  em.InitKey("k");
  const auto plain = Pattern(9000);
  TMemoryStream src;
  src.WriteBuffer(plain.data(), 9000);
  TFailingStream dst(5000);
  EXPECT_THROW(em.EncodeStream(&src, &dst, -1), EWriteError);
  EXPECT_EQ(seen, (std::vector<int>{0, 46, 0}));  // the final 0 also on the error path
  // The next item starts from the vector, not from where the failed pass stopped.
  std::vector<uint8_t> a(16), b(16);
  em.EncodeBuffer(plain.data(), a.data(), 16);
  TEncryptMgr fresh(nullptr);
  fresh.SetAlgoName("Gost");
  fresh.SetMode(cmChainXor);
  fresh.InitKey("k");
  fresh.EncodeBuffer(plain.data(), b.data(), 16);
  EXPECT_EQ(a, b);
}

TEST(ModulesTest, AdaptersForwardModeAndKey) {
  TEncAlgo_Twofish a(nullptr), b(nullptr);
  EXPECT_EQ(a.GetMode(), 0);
  a.SetMode(cmCFB8);
  b.SetMode(cmCFB8);
  EXPECT_EQ(a.GetMode(), cmCFB8);
  EXPECT_EQ(a.Cipher->CipherMode(), cmCFB8);
  a.InitKey("same");
  b.InitKey("same");
  const auto plain = Pattern(21);
  std::vector<uint8_t> x(21), y(21);
  a.EncodeBuffer(plain.data(), x.data(), 21);
  b.EncodeBuffer(plain.data(), y.data(), 21);
  EXPECT_EQ(x, y);
  // Without an owner the compression module still runs; no relay is set on it.
  TCompressMgr cm(nullptr);
  cm.SetAlgoName("ZLIB");
  EXPECT_FALSE(cm.Algo()->OnEncodeProgress);
  TDataProcessOwner owner;
  TCompressMgr cm2(&owner);
  cm2.SetAlgoName("ZLIB");
  EXPECT_TRUE(cm2.Algo()->OnEncodeProgress);
  EXPECT_EQ(static_cast<TCompressAlgo*>(cm2.Algo())->GetLevel(), 1);
}

}  // namespace
}  // namespace lanqi
