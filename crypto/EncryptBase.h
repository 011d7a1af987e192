// The block-cipher framework: a password becomes a key through a hash, the key's encryption of an
// all-0xFF block becomes the initialisation vector, and buffers of any length are encrypted in one of
// five chaining modes with a feedback register that carries over between calls until Done.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "crypto/HashBase.h"
#include "rtl/Component.h"

namespace lanqi {

// Chaining modes; the database file stores these numbers.
constexpr uint8_t cmChainXor = 0;
constexpr uint8_t cmCBC = 1;
constexpr uint8_t cmCFB8 = 2;
constexpr uint8_t cmOFB8 = 3;
constexpr uint8_t cmECB = 4;

class EEncryptException : public std::exception {
 public:
  EEncryptException(std::string message, int32_t errorCode)
      : message_(std::move(message)), errorCode_(errorCode) {}
  const char* what() const noexcept override { return message_.c_str(); }
  int32_t ErrorCode() const noexcept { return errorCode_; }

 private:
  std::string message_;
  int32_t errorCode_;
};

// ErrorCode of a buffer operation before any key was set up.
constexpr int32_t errNotInitialized = 3;

class TEncrypt : public TObject {
 public:
  ~TEncrypt() override;
  TEncrypt(const TEncrypt&) = delete;
  TEncrypt& operator=(const TEncrypt&) = delete;

  uint8_t CipherMode() const { return cipherMode_; }
  void SetCipherMode(uint8_t mode) { cipherMode_ = mode; }

  // Keys the cipher from the SHA digest of the password's bytes (vector: BlockSize bytes or none).
  void InitKey(const std::string& password, const void* vector = nullptr);
  // Key schedule from raw key bytes; a key longer than KeySize is cut, a negative length counts as 0.
  virtual void Init(const void* key, int32_t size, const void* vector) = 0;

  // Any length, source and dest may be the same memory; the output has the input's length.
  void EncodeBuffer(const void* source, void* dest, int32_t length);
  void DecodeBuffer(const void* source, void* dest, int32_t length);

  // Feedback := Vector, so the next buffer starts a new message.
  virtual void Done();
  // Wipes key schedule and registers and clears Initialized.
  virtual void Protect();

  virtual void EncodeBlock(uint8_t* block) = 0;
  virtual void DecodeBlock(uint8_t* block) = 0;
  // The class name named by the not-initialised error.
  virtual const char* ClassName() const = 0;

  int32_t BlockSize() const { return blockSize_; }
  int32_t KeySize() const { return keySize_; }
  int32_t UserSize() const { return userSize_; }
  const uint8_t* Vector() const { return vector_.get(); }
  const uint8_t* Feedback() const { return feedback_.get(); }
  bool Initialized() const { return HasFlag(kInitializedBit); }

  void SetFlag(int bit, bool on);
  bool HasFlag(int bit) const { return (flags_ >> bit) & 1u; }
  // The hash InitKey uses (THash_SHA), made on first use.
  THash& GetHash();

 protected:
  static constexpr int kInitializedBit = 9;

  TEncrypt(int32_t blockSize, int32_t keySize, int32_t userSize);

  // Runs EncodeBlock / DecodeBlock over `blocks` whole blocks in place; ciphers override them with
  // a loop that calls their block function directly.
  virtual void EncodeBlocksInPlace(uint8_t* data, int32_t blocks);
  virtual void DecodeBlocksInPlace(uint8_t* data, int32_t blocks);

  // First step of every Init: wipes and answers the usable key length.
  int32_t InitBegin(int32_t size);
  // Last step of every Init: sets Vector (given, or the encryption of 0xFF bytes) and Feedback.
  void InitEnd(const void* vector);

  // The key schedule area, word-aligned.
  uint8_t* User() { return reinterpret_cast<uint8_t*>(user_.get()); }
  uint32_t* UserWords() { return user_.get(); }
  const uint32_t* UserWords() const { return user_.get(); }

 private:
  void CheckInitialized() const;
  void EncodeBlocks(const uint8_t* src, uint8_t* dst, int32_t length);
  void DecodeBlocks(const uint8_t* src, uint8_t* dst, int32_t length);

  uint8_t cipherMode_ = cmChainXor;
  std::unique_ptr<THash> hash_;
  int32_t keySize_;
  int32_t blockSize_;
  int32_t userSize_;
  std::unique_ptr<uint8_t[]> scratch_;
  std::unique_ptr<uint8_t[]> vector_;
  std::unique_ptr<uint8_t[]> feedback_;
  std::unique_ptr<uint32_t[]> user_;
  uint32_t flags_ = 0;
};

}  // namespace lanqi
