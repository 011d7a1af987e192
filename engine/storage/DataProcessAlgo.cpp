#include "engine/storage/DataProcessAlgo.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "engine/storage/Compress_Zlib.h"
#include "engine/storage/DataProcessMgr.h"
#include "engine/storage/EncAlgo.h"
#include "platform/Collation.h"

namespace lanqi {

void TDataProcessAlgo::DoEncodeProgress(int percent) {
  if (OnEncodeProgress) OnEncodeProgress(owner_ ? owner_->ModuleSender : nullptr, percent);
}

void TDataProcessAlgo::DoDecodeProgress(int percent) {
  if (OnDecodeProgress) OnDecodeProgress(owner_ ? owner_->ModuleSender : nullptr, percent);
}

void TEncryptAlgo::EncodeStream(TStream* source, TStream* dest, int64_t size) {
  ProcessStream(source, dest, true, size);
}

void TEncryptAlgo::DecodeStream(TStream* source, TStream* dest, int64_t size) {
  ProcessStream(source, dest, false, size);
}

namespace {

int Percent(int64_t done, int64_t total) {
  if (total <= 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(done) * 100.0 / static_cast<double>(total)));
}

}  // namespace

void TEncryptAlgo::ProcessStream(TStream* source, TStream* dest, bool forward, int64_t count) {
  if (!source) return;
  if (!dest) dest = source;
  if (count < 0) {
    count = source->Size();
    source->SetPosition(0);
  }
  const int64_t total = count;
  auto progress = [&](int percent) {
    if (forward)
      DoEncodeProgress(percent);
    else
      DoDecodeProgress(percent);
  };
  progress(0);
  // Progress 0 once more also when the loop is left by an error.
  struct FinalProgress {
    decltype(progress)& report;
    ~FinalProgress() { report(0); }
  } final{progress};
  constexpr int32_t kChunk = 4096;
  std::vector<uint8_t> buffer(kChunk);
  int64_t destPos = dest->Position();
  int64_t sourcePos = source->Position();
  while (count > 0) {
    source->SetPosition(sourcePos);
    const int32_t n = source->Read(buffer.data(), static_cast<int32_t>(std::min<int64_t>(count, kChunk)));
    if (n <= 0) break;
    if (forward)
      EncodeBuffer(buffer.data(), buffer.data(), n);
    else
      DecodeBuffer(buffer.data(), buffer.data(), n);
    dest->SetPosition(destPos);
    dest->WriteBuffer(buffer.data(), n);
    sourcePos += n;
    destPos += n;
    count -= n;
    progress(Percent(total - count, total));
  }
}

// ---- registry ----

namespace {

struct Registry {
  std::vector<TDataProcessModule> compress;
  std::vector<TDataProcessModule> encrypt;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

void Register(std::vector<TDataProcessModule>& list, const TDataProcessAlgoClass& cls,
              const std::string& name) {
  for (auto& m : list)
    if (m.Class.Type == cls.Type) {
      m.Name = name;
      return;
    }
  list.push_back({name, cls});
}

int32_t IndexOf(const std::vector<TDataProcessModule>& list, const std::string& name) {
  for (size_t i = 0; i < list.size(); ++i)
    if (SameTextAnsi(list[i].Name, name)) return static_cast<int32_t>(i);
  return -1;
}

std::once_flag gStandardOnce;

}  // namespace

void RegisterStandardModules() {
  std::call_once(gStandardOnce, [] {
    Registry& r = TheRegistry();
    Register(r.compress, AlgoClassOf<TCompAlgo_Zlib>(), "ZLIB");
    Register(r.encrypt, AlgoClassOf<TEncAlgo_Blowfish>(), "Blowfish");
    Register(r.encrypt, AlgoClassOf<TEncAlgo_Twofish>(), "Twofish");
    Register(r.encrypt, AlgoClassOf<TEncAlgo_Gost>(), "Gost");
  });
}

void RegisterCompressModule(const TDataProcessAlgoClass& cls, const std::string& name) {
  RegisterStandardModules();
  Register(TheRegistry().compress, cls, name);
}

void RegisterEncryptModule(const TDataProcessAlgoClass& cls, const std::string& name) {
  RegisterStandardModules();
  Register(TheRegistry().encrypt, cls, name);
}

const std::vector<TDataProcessModule>& CompressModules() {
  RegisterStandardModules();
  return TheRegistry().compress;
}

const std::vector<TDataProcessModule>& EncryptModules() {
  RegisterStandardModules();
  return TheRegistry().encrypt;
}

int32_t IndexOfCompressModule(const std::string& name) {
  return IndexOf(CompressModules(), name);
}

int32_t IndexOfEncryptModule(const std::string& name) {
  return IndexOf(EncryptModules(), name);
}

}  // namespace lanqi
