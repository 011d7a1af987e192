// The cipher modules: each adapter owns one cipher object and forwards mode, key and buffers to it.
#pragma once

#include <memory>

#include "crypto/EncryptBase.h"
#include "engine/storage/DataProcessAlgo.h"

namespace lanqi {

class TEncAlgo_Base : public TEncryptAlgo {
 public:
  ~TEncAlgo_Base() override;

  void SetMode(uint8_t mode) override { Cipher->SetCipherMode(mode); }
  uint8_t GetMode() override { return Cipher->CipherMode(); }
  void InitKey(const std::string& password) override { Cipher->InitKey(password, nullptr); }
  void Done() override { Cipher->Done(); }
  void EncodeBuffer(const void* source, void* dest, int32_t count) override {
    Cipher->EncodeBuffer(source, dest, count);
  }
  void DecodeBuffer(const void* source, void* dest, int32_t count) override {
    Cipher->DecodeBuffer(source, dest, count);
  }

  // The owned cipher; destroying the adapter destroys it, and it wipes itself.
  const std::unique_ptr<TEncrypt> Cipher;

 protected:
  TEncAlgo_Base(TDataProcessOwner* owner, std::unique_ptr<TEncrypt> cipher);
};

class TEncAlgo_Blowfish : public TEncAlgo_Base {
 public:
  explicit TEncAlgo_Blowfish(TDataProcessOwner* owner);
};

class TEncAlgo_Twofish : public TEncAlgo_Base {
 public:
  explicit TEncAlgo_Twofish(TDataProcessOwner* owner);
};

class TEncAlgo_Gost : public TEncAlgo_Base {
 public:
  explicit TEncAlgo_Gost(TDataProcessOwner* owner);
};

}  // namespace lanqi
