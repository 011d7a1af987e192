// The compression and encryption managers of one open database.
//
// Owner interface: the database file object (TRadeZIFileIO) holds one TDataProcessOwner and passes
// its address to both managers, and keeps it alive as long as they live.
//   - ModuleSender: the object the modules name as Sender of their progress (the file object).
//   - RelaySender: the object the relays name as Sender (the database component).
//   - OnCompressProgress, OnUncompressProgress, OnEncryptProgress, OnDecryptProgress: the database
//     component's progress handlers. The relays read them at each call, so a handler set or changed
//     later is honoured; an empty one is skipped.
// A manager made with a null owner sets no relays.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "engine/storage/DataProcessAlgo.h"
#include "rtl/Component.h"
#include "rtl/Streams.h"

namespace lanqi {

struct TDataProcessOwner {
  TObject* ModuleSender = nullptr;
  TObject* RelaySender = nullptr;
  TOnProgressEvent OnCompressProgress;
  TOnProgressEvent OnUncompressProgress;
  TOnProgressEvent OnEncryptProgress;
  TOnProgressEvent OnDecryptProgress;
};

class TDataProcessMgr : public TObject {
 public:
  explicit TDataProcessMgr(TDataProcessOwner* owner) : owner_(owner) {}
  ~TDataProcessMgr() override;
  TDataProcessMgr(const TDataProcessMgr&) = delete;
  TDataProcessMgr& operator=(const TDataProcessMgr&) = delete;

  // Position of the module name in the manager's list; unknown names raise EDatabaseError.
  virtual int32_t IndexOfAlgo(const std::string& name);
  // Selects the module by name; the same class as the current module keeps that object and its state.
  virtual void SetAlgoName(const std::string& name);
  // "General error" without a module.
  virtual void EncodeStream(TStream* source, TStream* dest, int64_t size);
  virtual void DecodeStream(TStream* source, TStream* dest, int64_t size);

  TDataProcessOwner* Owner() const { return owner_; }
  // The current module, null before SetAlgoName.
  TDataProcessAlgo* Algo() const { return algo_.get(); }

 protected:
  TDataProcessAlgo& RequireAlgo() const;
  // Replaces the module unless it already is of the class at position index of modules; new
  // modules get their progress relayed to the owner's handlers onEncode and onDecode.
  void SelectModule(const std::vector<TDataProcessModule>& modules, int32_t index,
                    TOnProgressEvent TDataProcessOwner::*onEncode,
                    TOnProgressEvent TDataProcessOwner::*onDecode);

  TDataProcessOwner* owner_;
  std::unique_ptr<TDataProcessAlgo> algo_;
};

class TCompressMgr : public TDataProcessMgr {
 public:
  using TDataProcessMgr::TDataProcessMgr;
  // "Compression algorithm module '%s' not found" for an unknown name.
  int32_t IndexOfAlgo(const std::string& name) override;
  void SetAlgoName(const std::string& name) override;
};

class TEncryptMgr : public TDataProcessMgr {
 public:
  using TDataProcessMgr::TDataProcessMgr;
  // "Encryption algorithm module '%s' not found" for an unknown name.
  int32_t IndexOfAlgo(const std::string& name) override;
  void SetAlgoName(const std::string& name) override;
  // The module's stream operation, then its Done (also when the operation fails), so every item
  // starts from the cipher's initial state.
  void EncodeStream(TStream* source, TStream* dest, int64_t size) override;
  void DecodeStream(TStream* source, TStream* dest, int64_t size) override;
  virtual void EncodeBuffer(const void* source, void* dest, int32_t count);
  virtual void DecodeBuffer(const void* source, void* dest, int32_t count);

  // "General error" without a module.
  void SetMode(uint8_t mode);
  void InitKey(const std::string& password);
  void Done();

  TEncryptAlgo* EncryptAlgo() const;
};

}  // namespace lanqi
