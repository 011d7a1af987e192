#include "engine/storage/DataProcessMgr.h"

#include "rtl/Exceptions.h"

namespace lanqi {

namespace {

[[noreturn]] void GeneralError() {
  throw EDatabaseError("General error");
}

// Runs the module's Done when the call leaves, also by an error, so the next item starts from the
// initial vector instead of wherever the failed one stopped.
struct DoneOnExit {
  TEncryptAlgo& algo;
  ~DoneOnExit() { algo.Done(); }
};

}  // namespace

TDataProcessMgr::~TDataProcessMgr() = default;

int32_t TDataProcessMgr::IndexOfAlgo(const std::string&) {
  return -1;
}

void TDataProcessMgr::SetAlgoName(const std::string&) {}

TDataProcessAlgo& TDataProcessMgr::RequireAlgo() const {
  if (!algo_) GeneralError();
  return *algo_;
}

void TDataProcessMgr::EncodeStream(TStream* source, TStream* dest, int64_t size) {
  RequireAlgo().EncodeStream(source, dest, size);
}

void TDataProcessMgr::DecodeStream(TStream* source, TStream* dest, int64_t size) {
  RequireAlgo().DecodeStream(source, dest, size);
}

void TDataProcessMgr::SelectModule(const std::vector<TDataProcessModule>& modules, int32_t index,
                                   TOnProgressEvent TDataProcessOwner::*onEncode,
                                   TOnProgressEvent TDataProcessOwner::*onDecode) {
  const TDataProcessAlgoClass& cls = modules[static_cast<size_t>(index)].Class;
  if (const TDataProcessAlgo* current = algo_.get(); current && std::type_index(typeid(*current)) == cls.Type)
    return;
  algo_.reset();
  algo_ = cls.Create(owner_);
  if (!owner_) return;
  TDataProcessOwner* owner = owner_;
  algo_->OnEncodeProgress = [owner, onEncode](TObject*, int percent) {
    if (owner->*onEncode) (owner->*onEncode)(owner->RelaySender, percent);
  };
  algo_->OnDecodeProgress = [owner, onDecode](TObject*, int percent) {
    if (owner->*onDecode) (owner->*onDecode)(owner->RelaySender, percent);
  };
}

int32_t TCompressMgr::IndexOfAlgo(const std::string& name) {
  const int32_t i = IndexOfCompressModule(name);
  if (i < 0) throw EDatabaseError(Format("Compression algorithm module '%s' not found", name.c_str()));
  return i;
}

void TCompressMgr::SetAlgoName(const std::string& name) {
  const int32_t i = IndexOfAlgo(name);
  SelectModule(CompressModules(), i, &TDataProcessOwner::OnCompressProgress,
               &TDataProcessOwner::OnUncompressProgress);
}

int32_t TEncryptMgr::IndexOfAlgo(const std::string& name) {
  const int32_t i = IndexOfEncryptModule(name);
  if (i < 0) throw EDatabaseError(Format("Encryption algorithm module '%s' not found", name.c_str()));
  return i;
}

void TEncryptMgr::SetAlgoName(const std::string& name) {
  const int32_t i = IndexOfAlgo(name);
  SelectModule(EncryptModules(), i, &TDataProcessOwner::OnEncryptProgress,
               &TDataProcessOwner::OnDecryptProgress);
  // Only cipher modules can serve the buffer operations.
  if (!dynamic_cast<TEncryptAlgo*>(algo_.get())) {
    algo_.reset();
    GeneralError();
  }
}

TEncryptAlgo* TEncryptMgr::EncryptAlgo() const {
  return static_cast<TEncryptAlgo*>(algo_.get());
}

void TEncryptMgr::EncodeStream(TStream* source, TStream* dest, int64_t size) {
  if (!algo_) GeneralError();
  DoneOnExit done{*EncryptAlgo()};
  EncryptAlgo()->EncodeStream(source, dest, size);
}

void TEncryptMgr::DecodeStream(TStream* source, TStream* dest, int64_t size) {
  if (!algo_) GeneralError();
  DoneOnExit done{*EncryptAlgo()};
  EncryptAlgo()->DecodeStream(source, dest, size);
}

void TEncryptMgr::EncodeBuffer(const void* source, void* dest, int32_t count) {
  if (!algo_) GeneralError();
  DoneOnExit done{*EncryptAlgo()};
  EncryptAlgo()->EncodeBuffer(source, dest, count);
}

void TEncryptMgr::DecodeBuffer(const void* source, void* dest, int32_t count) {
  if (!algo_) GeneralError();
  DoneOnExit done{*EncryptAlgo()};
  EncryptAlgo()->DecodeBuffer(source, dest, count);
}

void TEncryptMgr::SetMode(uint8_t mode) {
  if (!algo_) GeneralError();
  EncryptAlgo()->SetMode(mode);
}

void TEncryptMgr::InitKey(const std::string& password) {
  if (!algo_) GeneralError();
  EncryptAlgo()->InitKey(password);
}

void TEncryptMgr::Done() {
  if (!algo_) GeneralError();
  EncryptAlgo()->Done();
}

}  // namespace lanqi
