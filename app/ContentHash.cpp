#include "app/ContentHash.h"

#include <fcntl.h>
#include <nettle/sha2.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/Files.h"

namespace lanqi {

namespace {

int64_t Nanoseconds(const struct timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

bool HashFileContent(const std::string& path, std::string& digest, int64_t& size,
                     const std::function<void(int64_t done)>& progress, const std::atomic<bool>* cancel) {
  std::string os;
  try {
    os = ToOsPath(path);
  } catch (const std::exception&) {
    return false;
  }
  int fd = ::open(os.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  sha256_ctx ctx;
  sha256_init(&ctx);
  std::vector<uint8_t> buf(1 << 20);
  int64_t done = 0;
  bool ok = true;
  for (;;) {
    if (cancel && cancel->load(std::memory_order_relaxed)) {
      ok = false;
      break;
    }
    ssize_t n = ::read(fd, buf.data(), buf.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    if (n == 0) break;
    sha256_update(&ctx, static_cast<size_t>(n), buf.data());
    done += n;
    if (progress) progress(done);
  }
  ::close(fd);
  if (!ok) return false;
  uint8_t raw[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof raw, raw);
  static const char hex[] = "0123456789abcdef";
  digest.clear();
  for (uint8_t b : raw) {
    digest += hex[b >> 4];
    digest += hex[b & 15];
  }
  size = done;
  return true;
}

std::string FileFingerprint(const std::string& path) {
  struct stat st {};
  try {
    if (::stat(ToOsPath(path).c_str(), &st) != 0) return "";
  } catch (const std::exception&) {
    return "";
  }
  return std::to_string(Nanoseconds(st.st_mtim)) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_ino);
}

std::string CopyIdentity(const std::string& path) {
  struct stat st {};
  try {
    if (::lstat(ToOsPath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  } catch (const std::exception&) {
    return "";
  }
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(Nanoseconds(st.st_mtim)) + ":" + std::to_string(Nanoseconds(st.st_ctim));
}

}  // namespace lanqi
