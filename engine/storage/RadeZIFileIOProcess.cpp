// Construction of the file object with its two managers, module selection, the password check
// and the four data-processing operations (each under the processing lock, since the modules keep
// chaining state and progress counters between calls).
#include <cstring>
#include <thread>

#include "crypto/HashBase.h"
#include "crypto/Hash_SHA.h"
#include "engine/storage/DataProcessMgr.h"
#include "engine/storage/RadeZIFileIO.h"
#include "rtl/Exceptions.h"

namespace lanqi {

// The processing lock is not recursive: a call that re-enters it on the same thread (a stream
// that loads itself while being encoded) is a fault in the caller, reported instead of waiting
// for ever with the file lock held.
class TRadeZIFileIO::TProcessingGuard {
 public:
  explicit TProcessingGuard(TRadeZIFileIO& io) : io_(io) {
    if (io_.processingThread_.load() == std::this_thread::get_id())
      throw EDatabaseError("Data processing re-entered on the same thread");
    io_.processingLock_.lock();
    io_.processingThread_.store(std::this_thread::get_id());
  }
  ~TProcessingGuard() {
    io_.processingThread_.store(std::thread::id());
    io_.processingLock_.unlock();
  }
  TProcessingGuard(const TProcessingGuard&) = delete;
  TProcessingGuard& operator=(const TProcessingGuard&) = delete;

 private:
  TRadeZIFileIO& io_;
};

TRadeZIFileIO::TRadeZIFileIO(TStorageOwner* owner) : owner_(owner) {
  if (owner_) {
    mediumType_ = owner_->MediumType();
    exclusive_ = owner_->Exclusive();
  }
  TDataProcessOwner* po = nullptr;
  if (owner_) {
    po = &processOwner_;
    po->RelaySender = owner_->ProgressSender();
    // The database's handlers are read at each call, so one set later is honoured.
    TStorageOwner* o = owner_;
    po->OnCompressProgress = [o](TObject* s, int p) {
      if (o->OnCompressProgress) o->OnCompressProgress(s, p);
    };
    po->OnUncompressProgress = [o](TObject* s, int p) {
      if (o->OnUncompressProgress) o->OnUncompressProgress(s, p);
    };
    po->OnEncryptProgress = [o](TObject* s, int p) {
      if (o->OnEncryptProgress) o->OnEncryptProgress(s, p);
    };
    po->OnDecryptProgress = [o](TObject* s, int p) {
      if (o->OnDecryptProgress) o->OnDecryptProgress(s, p);
    };
  }
  compressMgr_ = std::make_unique<TCompressMgr>(po);
  encryptMgr_ = std::make_unique<TEncryptMgr>(po);
}

TRadeZIFileIO::~TRadeZIFileIO() {
  CloseFile();
}

void TRadeZIFileIO::SelectModules() {
  if (processHeader_.Compressed) compressMgr_->SetAlgoName(processHeader_.CompressAlgoName);
  if (processHeader_.Encrypted) {
    encryptMgr_->SetAlgoName(processHeader_.EncryptAlgoName);
    encryptMgr_->SetMode(processHeader_.EncryptMode);
  }
}

bool TRadeZIFileIO::CheckPassword(const std::string& password) {
  if (!stream_) return false;
  if (!processHeader_.Encrypted) return true;
  std::string check = HashString<THash_SHA>(password);
  if (check != processHeader_.PasswordCheck) return false;
  encryptMgr_->InitKey(password);
  return true;
}

void TRadeZIFileIO::EncodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool compress,
                                     bool encrypt) {
  // Positioning a blob stream of a record buffer reads its pending content, which decodes under
  // the processing lock: it must happen before the lock is taken here.
  source.SetPosition(0);
  TProcessingGuard g(*this);
  const bool same = &source == &destination;
  if (!same) destination.Clear();
  if (!compress && !encrypt) {
    if (!same) destination.CopyFrom(source, 0);
  }
  if (compress) compressMgr_->EncodeStream(&source, &destination, -1);
  if (encrypt) {
    if (compress) {
      TMemoryStream tmp;
      tmp.CopyFrom(destination, 0);
      destination.Clear();
      tmp.SetPosition(0);
      encryptMgr_->EncodeStream(&tmp, &destination, -1);
    } else {
      encryptMgr_->EncodeStream(&source, &destination, -1);
    }
  }
  destination.SetPosition(0);
}

void TRadeZIFileIO::DecodeStreamData(TMemoryStream& source, TMemoryStream& destination, bool encrypt,
                                     bool compress) {
  source.SetPosition(0);
  TProcessingGuard g(*this);
  const bool same = &source == &destination;
  if (!same) destination.Clear();
  if (!compress && !encrypt) {
    if (!same) destination.CopyFrom(source, 0);
  }
  if (encrypt) encryptMgr_->DecodeStream(&source, &destination, -1);
  if (compress) {
    TMemoryStream tmp;
    TMemoryStream& packed = encrypt ? tmp : source;
    if (encrypt) {
      tmp.CopyFrom(destination, 0);
      destination.Clear();
      tmp.SetPosition(0);
    }
    CheckPackedLength(packed);
    compressMgr_->DecodeStream(&packed, &destination, -1);
  }
  destination.SetPosition(0);
}

// A compressed blob starts with its plain length; deflate cannot shrink data by more than about
// 1032 to 1, so a length beyond that is damage, refused before anything is allocated for it.
void TRadeZIFileIO::CheckPackedLength(TMemoryStream& packed) {
  const int64_t size = packed.Size();
  if (size < 4) return;
  const int64_t n = TByteBuffer::LoadInt32(packed.Memory());
  if (n > 0 && n > (size - 4) * 1100 + 1024)
    Corrupt(Format("a compressed blob of %lld bytes claims %lld plain bytes", static_cast<long long>(size),
                   static_cast<long long>(n)));
  packed.SetPosition(0);
}

void TRadeZIFileIO::EncodeBufferData(const void* source, void* destination, bool encrypt, int32_t size) {
  if (size <= 0) return;
  TProcessingGuard g(*this);
  if (encrypt)
    encryptMgr_->EncodeBuffer(source, destination, size);
  else if (source != destination)
    std::memmove(destination, source, static_cast<size_t>(size));
}

void TRadeZIFileIO::DecodeBufferData(const void* source, void* destination, bool encrypt, int32_t size) {
  if (size <= 0) return;
  TProcessingGuard g(*this);
  if (encrypt)
    encryptMgr_->DecodeBuffer(source, destination, size);
  else if (source != destination)
    std::memmove(destination, source, static_cast<size_t>(size));
}

}  // namespace lanqi
