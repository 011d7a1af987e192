// Throughput of our ciphers, digests, CRC-32 and the ZLIB module against their peers (nettle, zlib)
// on the same data in the same run. Prints MB/s of each and the ratio ours/peer (target >= 0.9).
// Usage: bench_crypto [megabytes per pass, default 16]
#include <nettle/blowfish.h>
#include <nettle/md4.h>
#include <nettle/ripemd160.h>
#include <nettle/sha1.h>
#include <nettle/twofish.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "crypto/Enc_Blowfish.h"
#include "crypto/Enc_Twofish.h"
#include "crypto/Hash_CheckSum.h"
#include "crypto/Hash_MD.h"
#include "crypto/Hash_RipeMD.h"
#include "crypto/Hash_SHA.h"
#include "engine/storage/Compress_Zlib.h"
#include "rtl/Streams.h"

namespace lanqi {
namespace {

class PublishedTwofish : public TEnc_Twofish {
 public:
  PublishedTwofish() : TEnc_Twofish(true) {}
};

volatile uint32_t gSink;

// MB/s of one timed pass of at least 0.2 s.
double Pass(size_t bytesPerCall, const std::function<void()>& call) {
  size_t calls = 0;
  const auto start = std::chrono::steady_clock::now();
  double secs = 0;
  do {
    call();
    ++calls;
    secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  } while (secs < 0.2);
  return static_cast<double>(bytesPerCall) * static_cast<double>(calls) / secs / 1e6;
}

struct Rates {
  double ours = 0, peer = 0;
};

// Best of seven passes each, ours and the peer taking turns so that a change in the machine's load
// hits both alike.
Rates Compare(size_t bytesPerCall, const std::function<void()>& ours, const std::function<void()>& peer) {
  ours();
  peer();
  Rates r;
  for (int pass = 0; pass < 7; ++pass) {
    r.ours = std::max(r.ours, Pass(bytesPerCall, ours));
    r.peer = std::max(r.peer, Pass(bytesPerCall, peer));
  }
  return r;
}

int gBelow = 0;

void Report(const char* what, const char* peer, double ours, double theirs) {
  const double ratio = ours / theirs;
  if (ratio < 0.9) ++gBelow;
  std::printf("%-22s ours %9.1f MB/s   %-22s %9.1f MB/s   ratio %.2f%s\n", what, ours, peer, theirs, ratio,
              ratio < 0.9 ? "  (below 0.9)" : "");
}

template <class H>
std::function<void()> OurHash(const std::vector<uint8_t>& data) {
  return [&data] {
    H h;
    h.InitHash();
    h.Calc(data.data(), static_cast<int32_t>(data.size()));
    h.DoneHash();
    gSink = gSink + h.DigestKey()[0];
  };
}

std::vector<uint8_t> TextLike(size_t n) {
  static const char kWords[] =
      "version note area file backup stamp tracked catalog record index blob table field value ";
  std::vector<uint8_t> b(n);
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = (x >> 24) < 40 ? static_cast<uint8_t>('0' + (x >> 16) % 10)
                          : static_cast<uint8_t>(kWords[(i + (x >> 20)) % (sizeof kWords - 1)]);
  }
  return b;
}

}  // namespace
}  // namespace lanqi

int main(int argc, char** argv) {
  using namespace lanqi;
  const size_t mb = argc > 1 ? static_cast<size_t>(std::atoi(argv[1])) : 16;
  std::vector<uint8_t> data(mb << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
  std::vector<uint8_t> work = data;
  const int32_t workLen = static_cast<int32_t>(work.size());
  uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(i * 17 + 1);

  {
    TEnc_Blowfish ours;
    ours.Init(key, 16, nullptr);
    ours.SetCipherMode(cmECB);
    blowfish_ctx peer;
    blowfish_set_key(&peer, 16, key);
    const Rates r = Compare(
        work.size(), [&] { ours.EncodeBuffer(work.data(), work.data(), workLen); },
        [&] { blowfish_encrypt(&peer, work.size(), work.data(), work.data()); });
    Report("Blowfish ECB", "nettle blowfish", r.ours, r.peer);
  }
  {
    PublishedTwofish ours;
    TEnc_Twofish variant;
    ours.Init(key, 16, nullptr);
    variant.Init(key, 16, nullptr);
    ours.SetCipherMode(cmECB);
    variant.SetCipherMode(cmECB);
    twofish_ctx peer;
    twofish_set_key(&peer, 16, key);
    const Rates r = Compare(
        work.size(), [&] { ours.EncodeBuffer(work.data(), work.data(), workLen); },
        [&] { twofish_encrypt(&peer, work.size(), work.data(), work.data()); });
    Report("Twofish ECB", "nettle twofish", r.ours, r.peer);
    const Rates v = Compare(
        work.size(), [&] { variant.EncodeBuffer(work.data(), work.data(), workLen); },
        [&] { ours.EncodeBuffer(work.data(), work.data(), workLen); });
    std::printf(
        "%-22s ours %9.1f MB/s   (30 rounds; %.2f of the published 16-round cipher, for information)\n",
        "Twofish variant ECB", v.ours, v.ours / v.peer);
  }
  {
    const Rates r = Compare(data.size(), OurHash<THash_MD4>(data), [&] {
      md4_ctx c;
      uint8_t d[MD4_DIGEST_SIZE];
      md4_init(&c);
      md4_update(&c, data.size(), data.data());
      md4_digest(&c, sizeof d, d);
      gSink = gSink + d[0];
    });
    Report("MD4", "nettle md4", r.ours, r.peer);
  }
  {
    const Rates r = Compare(data.size(), OurHash<THash_RipeMD160>(data), [&] {
      ripemd160_ctx c;
      uint8_t d[RIPEMD160_DIGEST_SIZE];
      ripemd160_init(&c);
      ripemd160_update(&c, data.size(), data.data());
      ripemd160_digest(&c, sizeof d, d);
      gSink = gSink + d[0];
    });
    Report("RIPEMD-160", "nettle ripemd160", r.ours, r.peer);
  }
  {
    const Rates r = Compare(data.size(), OurHash<THash_SHA>(data), [&] {
      sha1_ctx c;
      uint8_t d[SHA1_DIGEST_SIZE];
      sha1_init(&c);
      sha1_update(&c, data.size(), data.data());
      sha1_digest(&c, sizeof d, d);
      gSink = gSink + d[0];
    });
    Report(ShaExtensionsAvailable() ? "SHA-0 (SHA instr.)" : "SHA-0", "nettle sha1", r.ours, r.peer);
  }
  {
    const Rates r = Compare(
        data.size(), [&] { gSink = gSink + BufferCRC32(data.data(), static_cast<int32_t>(data.size())); },
        [&] {
          gSink = gSink + static_cast<uint32_t>(crc32(0L, data.data(), static_cast<uInt>(data.size())));
        });
    Report("CRC-32", "zlib crc32", r.ours, r.peer);
  }
  {
    const auto text = TextLike(std::min<size_t>(data.size(), 4u << 20));
    TCompAlgo_Zlib module(nullptr);
    TMemoryStream src, dst, back;
    src.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));
    std::vector<uint8_t> out(compressBound(text.size())), plain(text.size());
    uLongf packed = out.size();
    const Rates r = Compare(
        text.size(), [&] { module.EncodeStream(&src, &dst, 0); },
        [&] {
          packed = out.size();
          compress2(out.data(), &packed, text.data(), text.size(), Z_DEFAULT_COMPRESSION);
        });
    Report("ZLIB module encode", "zlib compress2", r.ours, r.peer);
    std::printf("%-22s output %.3f of the input\n", "", static_cast<double>(dst.Size()) / text.size());
    const Rates d = Compare(
        text.size(), [&] { module.DecodeStream(&dst, &back, 0); },
        [&] {
          uLongf m = plain.size();
          uncompress(plain.data(), &m, out.data(), packed);
          gSink = gSink + static_cast<uint32_t>(m);
        });
    Report("ZLIB module decode", "zlib uncompress", d.ours, d.peer);
  }
  std::printf("%d of the ratios below 0.9\n", gBelow);
  return 0;
}
