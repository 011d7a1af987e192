// Pluggable data-processing modules (compression and encryption) and their registry.
//
// A module class is registered under a name; a database file names the modules its data was
// written with, and the managers (engine/storage/DataProcessMgr.h) make the module by that name.
// Look-ups ignore case. Registering a class that is already listed renames its entry. The four
// standard modules ("ZLIB"; "Blowfish", "Twofish", "Gost") are always registered first: every
// registry function makes sure of it before doing anything, so no static initializer is needed.
// Register further modules during start-up; look-ups may then run from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <typeindex>
#include <vector>

#include "rtl/Component.h"
#include "rtl/Streams.h"

namespace lanqi {

struct TDataProcessOwner;
class TDataProcessAlgo;

// A module class: its identity and how to make one for an owner.
struct TDataProcessAlgoClass {
  std::type_index Type;
  std::unique_ptr<TDataProcessAlgo> (*Create)(TDataProcessOwner* owner);
};

template <class T>
TDataProcessAlgoClass AlgoClassOf() {
  static_assert(std::is_base_of_v<TDataProcessAlgo, T>);
  return {typeid(T), [](TDataProcessOwner* owner) -> std::unique_ptr<TDataProcessAlgo> {
            return std::make_unique<T>(owner);
          }};
}

// Base of all modules. Owner is the database file object that made the module; progress handlers
// are called with the owner's ModuleSender as Sender.
class TDataProcessAlgo : public TObject {
 public:
  explicit TDataProcessAlgo(TDataProcessOwner* owner) : owner_(owner) {}
  ~TDataProcessAlgo() override = default;
  TDataProcessAlgo(const TDataProcessAlgo&) = delete;
  TDataProcessAlgo& operator=(const TDataProcessAlgo&) = delete;

  // size: the byte count to process; its meaning is the module's (the zlib module ignores it).
  virtual void EncodeStream(TStream* source, TStream* dest, int64_t size) = 0;
  virtual void DecodeStream(TStream* source, TStream* dest, int64_t size) = 0;

  TDataProcessOwner* Owner() const { return owner_; }

  TOnProgressEvent OnEncodeProgress;
  TOnProgressEvent OnDecodeProgress;

 protected:
  void DoEncodeProgress(int percent);
  void DoDecodeProgress(int percent);

 private:
  TDataProcessOwner* owner_;
};

class TCompressAlgo : public TDataProcessAlgo {
 public:
  using TDataProcessAlgo::TDataProcessAlgo;
  virtual void SetLevel(uint8_t) {}
  virtual uint8_t GetLevel() { return 1; }
};

class TEncryptAlgo : public TDataProcessAlgo {
 public:
  using TDataProcessAlgo::TDataProcessAlgo;

  // ProcessStream forward and backward.
  void EncodeStream(TStream* source, TStream* dest, int64_t size) override;
  void DecodeStream(TStream* source, TStream* dest, int64_t size) override;

  virtual void SetMode(uint8_t) {}
  virtual uint8_t GetMode() { return 0; }
  virtual void InitKey(const std::string& password) = 0;
  virtual void Done() {}
  // In place allowed; the length is kept exactly for any count.
  virtual void EncodeBuffer(const void* source, void* dest, int32_t count) = 0;
  virtual void DecodeBuffer(const void* source, void* dest, int32_t count) = 0;

 protected:
  // Runs the cipher over count bytes (count < 0: the whole source from 0; otherwise from the
  // source's current position) in 4096-byte chunks, the chaining state carried across chunks.
  // No dest: in place in source. Progress 0, then after every chunk, then 0 again at the end.
  void ProcessStream(TStream* source, TStream* dest, bool forward, int64_t count);
};

// One registry entry.
struct TDataProcessModule {
  std::string Name;
  TDataProcessAlgoClass Class;
};

void RegisterCompressModule(const TDataProcessAlgoClass& cls, const std::string& name);
void RegisterEncryptModule(const TDataProcessAlgoClass& cls, const std::string& name);

template <class T>
void RegisterCompressModule(const std::string& name) {
  static_assert(std::is_base_of_v<TCompressAlgo, T>);
  RegisterCompressModule(AlgoClassOf<T>(), name);
}
template <class T>
void RegisterEncryptModule(const std::string& name) {
  static_assert(std::is_base_of_v<TEncryptAlgo, T>);
  RegisterEncryptModule(AlgoClassOf<T>(), name);
}

// The lists in registration order.
const std::vector<TDataProcessModule>& CompressModules();
const std::vector<TDataProcessModule>& EncryptModules();
// Position of the name in a list (case ignored), -1 when absent.
int32_t IndexOfCompressModule(const std::string& name);
int32_t IndexOfEncryptModule(const std::string& name);

// Makes the program-start registrations if they have not been made yet (idempotent, thread-safe).
void RegisterStandardModules();

}  // namespace lanqi
