// A read-only shared mapping of an open file's first bytes into memory.
#pragma once

#include <cstdint>

namespace lanqi {

class TFileMapping {
 public:
  TFileMapping() = default;
  ~TFileMapping() { Unmap(); }
  TFileMapping(const TFileMapping&) = delete;
  TFileMapping& operator=(const TFileMapping&) = delete;

  // Maps the first length bytes of the file open on handle (the current mapping first released);
  // false, with nothing mapped, when the system refuses.
  bool Map(int handle, int64_t length);
  void Unmap();

  const uint8_t* Data() const { return data_; }
  int64_t Length() const { return length_; }
  int Handle() const { return handle_; }

 private:
  const uint8_t* data_ = nullptr;
  int64_t length_ = 0;
  int handle_ = -1;
};

}  // namespace lanqi
