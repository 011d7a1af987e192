#include "engine/storage/DatabaseWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "crypto/HashBase.h"
#include "crypto/Hash_SHA.h"
#include "engine/storage/DataProcessAlgo.h"
#include "platform/Collation.h"
#include "platform/FileStream.h"
#include "platform/Files.h"
#include "rtl/Exceptions.h"

namespace lanqi {

namespace {
constexpr int32_t kMaxStringSize = 1 << 20;
constexpr uint8_t kMaxEncryptMode = 4;

[[noreturn]] void Refuse(const std::string& message) {
  throw EDatabaseError(message);
}

void CheckName(const std::string& what, const std::string& name) {
  if (name.empty()) Refuse(Format("%s name is empty", what.c_str()));
  if (name.size() > static_cast<size_t>(kMaxNameLength))
    Refuse(Format("%s name '%s' is longer than %d bytes", what.c_str(), name.c_str(), kMaxNameLength));
  if (name.find('\0') != std::string::npos) Refuse(Format("%s name contains a zero byte", what.c_str()));
}
}  // namespace

void WriteNewDatabase(TStream& stream, const TDatabaseCreateOptions& options) {
  TDataProcessHeader ph;
  ph.Compressed = options.Compress;
  if (ph.Compressed) ph.CompressAlgoName = "ZLIB";
  if (!options.EncryptAlgoName.empty()) {
    int32_t i = IndexOfEncryptModule(options.EncryptAlgoName);
    if (i < 0)
      throw EDatabaseError(
          Format("Encryption algorithm module '%s' not found", options.EncryptAlgoName.c_str()));
    const std::string name = EncryptModules()[static_cast<size_t>(i)].Name;
    if (options.EncryptMode > kMaxEncryptMode)
      Refuse(Format("Cipher mode %d is not one of 0 to %d", options.EncryptMode, kMaxEncryptMode));
    ph.Encrypted = true;
    ph.EncryptAlgoName = name;
    ph.EncryptMode = options.EncryptMode;
    ph.PasswordCheck = HashString<THash_SHA>(options.Password);
  }
  ph.VerifyWrites = options.VerifyWrites;

  TByteBuffer image(kDynamicAreaOffset);
  image.PutBytes(kFhMagic, kMagic, sizeof kMagic);
  image.PutText(kFhVersion, kVersionSize, kWriterVersion);
  TByteBuffer phImage = ph.Encode();
  image.PutBytes(kProcessHeaderOffset, phImage.Data(), phImage.Size());
  // The directory: no tables yet, zero offsets.
  stream.SetSize(0);
  stream.SetPosition(0);
  stream.WriteBuffer(image.Data(), static_cast<int32_t>(image.Size()));
}

namespace {
// The temporary file of a create, removed again unless it was given its name.
class TNewFile {
 public:
  explicit TNewFile(const std::string& fileName) : target_(ExpandFileName(fileName)) {
    targetOs_ = ToOsPath(target_);
    // A short fixed name: the target's own name may already be as long as a name can be. The open
    // with O_EXCL and mode 0666 leaves the permissions to the umask, as a direct create would.
    const std::string folderOs = ToOsPath(ExtractFilePath(target_));
    std::random_device rd;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      std::string name = folderOs + Format(".lanqi-new-%08x", static_cast<unsigned>(rd()));
      fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd_ >= 0)
        tmpOs_ = name;
      else if (errno != EEXIST)
        Fail(errno);
    }
    if (fd_ < 0) Fail(EEXIST);
  }
  ~TNewFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!tmpOs_.empty()) ::unlink(tmpOs_.c_str());
  }
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;

  // The temporary file as code-page text, for the engine's own opens.
  std::string TempName() const { return FromOsPath(tmpOs_); }

  void Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    for (size_t done = 0; done < size;) {
      ssize_t n = ::write(fd_, p + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
      done += static_cast<size_t>(n);
    }
  }

  // Syncs the whole file, gives it its name unless that name was taken meanwhile, and syncs the
  // folder so that the name survives a power loss.
  void Commit() {
    if (::fsync(fd_) != 0) Fail(errno);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail(errno);
    if (::renameat2(AT_FDCWD, tmpOs_.c_str(), AT_FDCWD, targetOs_.c_str(), RENAME_NOREPLACE) != 0) {
      int e = errno;
      if (e == EEXIST) Refuse(Format("File '%s' already exists", target_.c_str()));
      if (e != EINVAL && e != ENOSYS) Fail(e);
      // A file system without the no-replace rename: a hard link is just as exclusive.
      if (::link(tmpOs_.c_str(), targetOs_.c_str()) != 0) {
        e = errno;
        if (e == EEXIST) Refuse(Format("File '%s' already exists", target_.c_str()));
        Fail(e);
      }
      ::unlink(tmpOs_.c_str());
    }
    tmpOs_.clear();
    int dir = ::open(ToOsPath(ExtractFilePath(target_)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
  }

 private:
  [[noreturn]] void Fail(int e) const {
    throw EDatabaseError(
        Format("Cannot create database file '%s'. %s", target_.c_str(), SysErrorMessage(e).c_str()));
  }

  std::string target_;
  std::string targetOs_;
  std::string tmpOs_;
  int fd_ = -1;
};
}  // namespace

void CreateDatabaseFile(const std::string& fileName, const TDatabaseCreateOptions& options,
                        const std::function<void(TRadeZIFileIO&)>& addTables) {
  if (FileExists(fileName)) Refuse(Format("File '%s' already exists", fileName.c_str()));
  TMemoryStream image;
  WriteNewDatabase(image, options);
  TNewFile file(fileName);
  file.Write(image.Memory(), static_cast<size_t>(image.Size()));
  if (addTables) {
    TStorageOwner owner;
    TRadeZIFileIO io(&owner);
    io.OpenFile(file.TempName(), mtDisk, false);
    addTables(io);
    io.FlushFile();
    io.CloseFile();
  }
  file.Commit();
}

void ValidateTableDefinition(const std::string& tableName, const TRadeFieldDefs& fields,
                             const TRadeIndexDefs& indexes) {
  CheckName("Table", tableName);
  if (fields.Count() == 0) Refuse(Format("Table '%s' has no fields", tableName.c_str()));
  if (fields.Count() > kMaxFields)
    Refuse(Format("Table '%s' has %d fields; at most %d are allowed", tableName.c_str(), fields.Count(),
                  kMaxFields));
  if (indexes.Count() > kMaxIndexes)
    Refuse(Format("Table '%s' has %d indexes; at most %d are allowed", tableName.c_str(), indexes.Count(),
                  kMaxIndexes));
  int64_t recordSize = 0;
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const TRadeFieldDef* f = fields.Items(i);
    CheckName("Field", f->Name);
    for (int32_t j = 0; j < i; ++j)
      if (SameTextAnsi(fields.Items(j)->Name, f->Name))
        Refuse(Format("Field name '%s' is used twice", f->Name.c_str()));
    if (!IsAcceptedFieldType(f->FieldType))
      Refuse(Format("Field '%s' has the type code %d, which a table cannot hold", f->Name.c_str(),
                    f->FieldType));
    if (IsAnsiStringType(f->FieldType) && (f->DataSize < 1 || f->DataSize > kMaxStringSize))
      Refuse(Format("Field '%s' needs a size from 1 to %d", f->Name.c_str(), kMaxStringSize));
    recordSize += FieldSlotSize(f->FieldType, f->DataSize);
  }
  if (recordSize > 64 * static_cast<int64_t>(kMaxStringSize))
    Refuse(Format("Table '%s' has records of more than %d bytes", tableName.c_str(), 64 * kMaxStringSize));
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const TRadeIndexDef* d = indexes.Items(i);
    CheckName("Index", d->Name);
    for (int32_t j = 0; j < i; ++j)
      if (SameTextAnsi(indexes.Items(j)->Name, d->Name))
        Refuse(Format("Index name '%s' is used twice", d->Name.c_str()));
    if (d->FieldNumbers.empty() || d->FieldNumbers.size() > static_cast<size_t>(kMaxKeyFields))
      Refuse(Format("Index '%s' needs 1 to %d key fields", d->Name.c_str(), kMaxKeyFields));
    if ((d->Options.Bits() & ~0x0Fu) != 0) Refuse(Format("Index '%s' has unknown options", d->Name.c_str()));
    for (size_t k = 0; k < d->FieldNumbers.size(); ++k) {
      int32_t fn = d->FieldNumbers[k];
      if (fn < 0 || fn >= fields.Count())
        Refuse(Format("Index '%s' names the field number %d, which the table does not have", d->Name.c_str(),
                      fn));
      for (size_t m = 0; m < k; ++m)
        if (d->FieldNumbers[m] == fn)
          Refuse(Format("Index '%s' names the field '%s' twice", d->Name.c_str(),
                        fields.Items(fn)->Name.c_str()));
      if (IsBlobType(fields.Items(fn)->FieldType))
        Refuse(Format("Index '%s' is on the blob field '%s'; blob fields cannot be indexed", d->Name.c_str(),
                      fields.Items(fn)->Name.c_str()));
    }
  }
}

int32_t AddTable(TRadeZIFileIO& fileIO, const std::string& tableName, const TRadeFieldDefs& fields,
                 const TRadeIndexDefs& indexes) {
  ValidateTableDefinition(tableName, fields, indexes);
  if (fileIO.ReadOnly()) Refuse("Cannot modify a read-only dataset");
  TFileLockGuard lock(fileIO);
  // The directory as it is now on disk: another program may have added tables since the open.
  TTableDirectory& dir = fileIO.Directory();
  fileIO.ReadBytesAt(dir.Image.Data(), kDirectoryOffset, kDirectorySize);
  int32_t n = dir.Count();
  if (n < 0 || n > kMaxTables) fileIO.Corrupt(Format("table count %d is outside 0 to %d", n, kMaxTables));
  if (n == kMaxTables) Refuse(Format("The database already holds %d tables", kMaxTables));
  std::vector<std::string> names;
  fileIO.GetTableNames(names);
  for (const std::string& existing : names)
    if (SameTextAnsi(existing, tableName)) Refuse(Format("Table '%s' already exists", tableName.c_str()));

  TTableHeader h;
  h.SetName(tableName);
  h.SetFieldCount(fields.Count());
  for (int32_t i = 0; i < fields.Count(); ++i) {
    const TRadeFieldDef* f = fields.Items(i);
    h.SetField(i, TFieldDefRec{f->Name, f->FieldType, f->DataSize, f->NoProcessing});
  }
  h.SetIndexCount(indexes.Count());
  for (int32_t i = 0; i < indexes.Count(); ++i) {
    const TRadeIndexDef* d = indexes.Items(i);
    h.SetIndex(i, TIndexDefRec{d->Name, d->Options, d->FieldNumbers, 0, 0});
  }
  int64_t end = fileIO.FileSize();
  if (end + kTableHeaderSize > INT32_MAX) Refuse("The database file would grow beyond 2147483647 bytes");
  int32_t offset = static_cast<int32_t>(end);
  fileIO.WriteBytesAt(h.Image().Data(), offset, kTableHeaderSize);
  // The offset first, then the count that makes the table visible.
  dir.SetOffset(n, offset);
  const size_t slot = TTableDirectory::OffsetPos(n);
  fileIO.WriteBytesAt(dir.Image.Data() + slot, kDirectoryOffset + static_cast<int64_t>(slot), 4);
  dir.SetCount(n + 1);
  fileIO.WriteBytesAt(dir.Image.Data() + kDirTableCount, kDirectoryOffset + kDirTableCount, 4);
  fileIO.FlushFile();
  return n;
}

}  // namespace lanqi
