#include "engine/storage/Compress_Zlib.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "crypto/HashBytes.h"

namespace lanqi {

namespace {

constexpr size_t kPiece = 64 * 1024;

int Percent(int64_t done, int64_t total) {
  if (total <= 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(done) * 100.0 / static_cast<double>(total)));
}

void WriteInt32(TStream& s, int32_t v) {
  uint8_t b[4];
  StoreLE32(b, static_cast<uint32_t>(v));
  s.WriteBuffer(b, 4);
}

// The source's bytes: a memory stream's own memory, or a copy read from the start.
struct SourceBytes {
  std::vector<uint8_t> copy;
  const uint8_t* data = nullptr;
  int64_t size = 0;

  SourceBytes(TStream& s, bool mustCopy) {
    size = s.Size();
    auto* mem = dynamic_cast<TMemoryStream*>(&s);
    if (mem && !mustCopy) {
      data = mem->Memory();
      return;
    }
    copy.resize(static_cast<size_t>(size));
    s.SetPosition(0);
    if (size > 0) s.ReadBuffer(copy.data(), static_cast<int32_t>(size));
    data = copy.data();
  }
};

struct Deflater {
  z_stream zs{};
  bool open = false;
  ~Deflater() {
    if (open) deflateEnd(&zs);
  }
};

struct Inflater {
  z_stream zs{};
  bool open = false;
  ~Inflater() {
    if (open) inflateEnd(&zs);
  }
};

}  // namespace

int TCompAlgo_Zlib::ZlibLevel(uint8_t level) {
  switch (level) {
    case 0:
      return Z_BEST_COMPRESSION;
    case 1:
      return Z_DEFAULT_COMPRESSION;
    case 2:
    case 3:
      return Z_BEST_SPEED;
    default:
      return Z_NO_COMPRESSION;
  }
}

void TCompAlgo_Zlib::EncodeStream(TStream* source, TStream* dest, int64_t) {
  if (!source || !dest) return;
  sourceSize_ = source->Size();
  if (sourceSize_ > std::numeric_limits<int32_t>::max()) throw ECompressionError();
  // The same stream on both sides: take the bytes before the destination is cleared.
  SourceBytes src(*source, source == dest);
  const int32_t n = static_cast<int32_t>(sourceSize_);
  dest->SetSize(0);
  dest->SetPosition(0);
  if (n == 0) return;
  WriteInt32(*dest, n);

  Deflater d;
  if (deflateInit2(&d.zs, ZlibLevel(level_), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw ECompressionError();
  d.open = true;
  std::vector<uint8_t> out(kPiece);
  d.zs.next_in = const_cast<Bytef*>(src.data);
  d.zs.avail_in = static_cast<uInt>(n);
  int ret;
  do {
    d.zs.next_out = out.data();
    d.zs.avail_out = static_cast<uInt>(kPiece);
    ret = deflate(&d.zs, Z_FINISH);
    if (ret == Z_STREAM_ERROR) throw ECompressionError();
    const size_t produced = kPiece - d.zs.avail_out;
    dest->WriteBuffer(out.data(), static_cast<int32_t>(produced));
    if (produced == kPiece) DoEncodeProgress(Percent(static_cast<int64_t>(d.zs.total_in), n));
    // Stored form as soon as the compressed form can no longer win.
    if (dest->Size() >= static_cast<int64_t>(n) + 4) break;
  } while (ret != Z_STREAM_END);

  if (dest->Size() >= static_cast<int64_t>(n) + 4) {
    dest->SetSize(0);
    dest->SetPosition(0);
    WriteInt32(*dest, -n);
    dest->WriteBuffer(src.data, n);
  }
}

void TCompAlgo_Zlib::DecodeStream(TStream* source, TStream* dest, int64_t) {
  if (!source || !dest) return;
  sourceSize_ = source->Size();
  std::unique_ptr<TMemoryStream> holder;
  if (source == dest) {
    // Decode from a copy: the destination is cleared below.
    holder = std::make_unique<TMemoryStream>();
    holder->CopyFrom(*source, 0);
    source = holder.get();
  }
  dest->SetSize(0);
  dest->SetPosition(0);
  if (sourceSize_ == 0) return;
  source->SetPosition(0);
  uint8_t head[4];
  source->ReadBuffer(head, 4);
  const int32_t m = static_cast<int32_t>(LoadLE32(head));
  if (m < 0) {
    if (sourceSize_ > 4) dest->CopyFrom(*source, sourceSize_ - 4);
    dest->SetPosition(0);
    return;
  }

  Inflater inf;
  if (inflateInit(&inf.zs) != Z_OK) throw EDecompressionError();
  inf.open = true;
  std::vector<uint8_t> in(kPiece);
  // Feeds the next input piece when zlib has used up the last; false at the end of the source.
  auto feed = [&] {
    if (inf.zs.avail_in != 0) return true;
    const int32_t got = source->Read(in.data(), static_cast<int32_t>(kPiece));
    if (got <= 0) return false;
    inf.zs.next_in = in.data();
    inf.zs.avail_in = static_cast<uInt>(got);
    DoDecodeProgress(Percent(source->Position(), sourceSize_));
    return true;
  };
  // One inflate step into out[0, room); answers the bytes produced. Ending before m bytes is the
  // stream's read error, damage the wrapper's.
  int64_t remaining = m;
  bool streamEnded = false;
  auto step = [&](uint8_t* out, size_t room) -> size_t {
    if (streamEnded || !feed()) throw EReadError();
    inf.zs.next_out = out;
    inf.zs.avail_out = static_cast<uInt>(room);
    const int ret = inflate(&inf.zs, Z_NO_FLUSH);
    if (ret == Z_STREAM_END)
      streamEnded = true;
    else if (ret != Z_OK && ret != Z_BUF_ERROR)
      throw EDecompressionError();
    return room - inf.zs.avail_out;
  };

  if (auto* mem = dynamic_cast<TMemoryStream*>(dest)) {
    // Straight into the stream's memory. The room starts at what the input can possibly yield
    // (deflate expands at most about 1032 to 1), never at a length the header merely claims.
    const int64_t bound = (sourceSize_ - 4) * 1032 + static_cast<int64_t>(kPiece);
    int64_t room = std::min<int64_t>(m, bound);
    int64_t produced = 0;
    try {
      mem->SetSize(room);
      while (produced < m) {
        if (produced == room) {
          room = std::min<int64_t>(m, room * 2);
          mem->SetSize(room);
        }
        const size_t want = static_cast<size_t>(std::min<int64_t>(room - produced, 1 << 30));
        produced += static_cast<int64_t>(step(mem->Memory() + produced, want));
      }
    } catch (...) {
      mem->SetSize(produced);
      throw;
    }
    mem->SetSize(produced);
  } else {
    std::vector<uint8_t> out(kPiece);
    while (remaining > 0) {
      const size_t produced =
          step(out.data(), static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(kPiece))));
      if (produced) dest->WriteBuffer(out.data(), static_cast<int32_t>(produced));
      remaining -= static_cast<int64_t>(produced);
    }
  }
  // All m bytes are out; when the zlib stream ends right there, let inflate read its trailer so
  // that a damaged checksum is an error rather than silently wrong data. A stream that holds more
  // than the header states keeps the stated prefix.
  while (!streamEnded) {
    if (!feed()) throw EReadError();
    uint8_t extra = 0;
    inf.zs.next_out = &extra;
    inf.zs.avail_out = 1;
    const int ret = inflate(&inf.zs, Z_NO_FLUSH);
    if (inf.zs.avail_out == 0) break;
    if (ret == Z_STREAM_END)
      streamEnded = true;
    else if (ret != Z_OK && ret != Z_BUF_ERROR)
      throw EDecompressionError();
  }
  dest->SetPosition(0);
}

}  // namespace lanqi
