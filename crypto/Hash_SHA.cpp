#include "crypto/Hash_SHA.h"

#include <atomic>

#include "crypto/HashBytes.h"

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define LANQI_SHA_X86 1
#endif

namespace lanqi {

namespace {

#if LANQI_SHA_X86
bool CpuHasSha() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = c & (1u << 9), sse41 = c & (1u << 19);
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & (1u << 29));
}

// Four rounds per instruction, the state kept in registers from block to block. The schedule is
// built four words at a time: sha1msg1 gives W[t-16] ^ W[t-14], the XOR with W[t-8] follows, and
// the W[t-3] term is added lane by lane; the last lane needs W[t] of the same group, which is why
// it is folded in afterwards. SHA-1's rotation (sha1msg2) is used only when asked for.
template <bool Rotate>
__attribute__((target("sha,sse4.1,ssse3"))) void ShaNiBlocks(uint32_t* state, const uint8_t* data,
                                                             uint32_t blocks) {
  const __m128i mask = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (uint32_t blk = 0; blk < blocks; ++blk, data += 64) {
    const __m128i abcdSave = abcd;
    __m128i w[20];
    for (int i = 0; i < 4; ++i)
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)), mask);
#pragma GCC unroll 16
    for (int i = 4; i < 20; ++i) {
      const __m128i x = _mm_xor_si128(_mm_sha1msg1_epu32(w[i - 4], w[i - 3]), w[i - 2]);
      if constexpr (Rotate) {
        w[i] = _mm_sha1msg2_epu32(x, w[i - 1]);
      } else {
        const __m128i t = _mm_xor_si128(x, _mm_slli_si128(w[i - 1], 4));
        w[i] = _mm_xor_si128(t, _mm_srli_si128(t, 12));
      }
    }
    __m128i prev = abcd;
    __m128i ew = _mm_add_epi32(e0, w[0]);
#define LQ_ROUNDS(i, f)                              \
  do {                                               \
    if (i > 0) ew = _mm_sha1nexte_epu32(prev, w[i]); \
    prev = abcd;                                     \
    abcd = _mm_sha1rnds4_epu32(abcd, ew, f);         \
  } while (0)
    LQ_ROUNDS(0, 0);
    LQ_ROUNDS(1, 0);
    LQ_ROUNDS(2, 0);
    LQ_ROUNDS(3, 0);
    LQ_ROUNDS(4, 0);
    LQ_ROUNDS(5, 1);
    LQ_ROUNDS(6, 1);
    LQ_ROUNDS(7, 1);
    LQ_ROUNDS(8, 1);
    LQ_ROUNDS(9, 1);
    LQ_ROUNDS(10, 2);
    LQ_ROUNDS(11, 2);
    LQ_ROUNDS(12, 2);
    LQ_ROUNDS(13, 2);
    LQ_ROUNDS(14, 2);
    LQ_ROUNDS(15, 3);
    LQ_ROUNDS(16, 3);
    LQ_ROUNDS(17, 3);
    LQ_ROUNDS(18, 3);
    LQ_ROUNDS(19, 3);
#undef LQ_ROUNDS
    e0 = _mm_sha1nexte_epu32(prev, e0);
    abcd = _mm_add_epi32(abcd, abcdSave);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

const bool kCpuHasSha = CpuHasSha();
#else
const bool kCpuHasSha = false;
#endif

std::atomic<bool> gUseSha{kCpuHasSha};

}  // namespace

bool ShaExtensionsAvailable() {
  return kCpuHasSha;
}

void UseShaExtensions(bool on) {
  gUseSha = on && kCpuHasSha;
}

void THash_SHA::DoneHash() {
  FinishBlocks(true);
  StoreDigest(true);
}

void THash_SHA::Transform(const uint8_t* block) {
  TransformBlocks(block, 1);
}

void THash_SHA::TransformBlocks(const uint8_t* data, uint32_t blocks) {
#if LANQI_SHA_X86
  if (gUseSha.load(std::memory_order_relaxed)) {
    if (RotateSchedule)
      ShaNiBlocks<true>(Digest, data, blocks);
    else
      ShaNiBlocks<false>(Digest, data, blocks);
    return;
  }
#endif
  for (uint32_t i = 0; i < blocks; ++i) TransformPortable(data + 64 * static_cast<size_t>(i));
}

void THash_SHA::TransformPortable(const uint8_t* block) {
  // The schedule lives in a 16-word ring: w[t & 15] holds W[t].
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBE32(block + 4 * i);
  const bool rotate = RotateSchedule != 0;
  auto next = [&w, rotate](int t) {
    const uint32_t v = w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15];
    return w[t & 15] = rotate ? Rol32(v, 1) : v;
  };
  uint32_t a = Digest[0], b = Digest[1], c = Digest[2], d = Digest[3], e = Digest[4];
  // Five steps per group, the variables renamed instead of moved.
#define LQ_F1(b, c, d) (d ^ (b & (c ^ d)))
#define LQ_F2(b, c, d) (b ^ c ^ d)
#define LQ_F3(b, c, d) ((b & c) | (d & (b | c)))
#define LQ_STEP(a, b, c, d, e, f, k, wt)      \
  e += Rol32(a, 5) + f(b, c, d) + (k) + (wt); \
  b = Rol32(b, 30);
#define LQ_GROUP(f, k, t, W)              \
  LQ_STEP(a, b, c, d, e, f, k, W(t));     \
  LQ_STEP(e, a, b, c, d, f, k, W(t + 1)); \
  LQ_STEP(d, e, a, b, c, f, k, W(t + 2)); \
  LQ_STEP(c, d, e, a, b, f, k, W(t + 3)); \
  LQ_STEP(b, c, d, e, a, f, k, W(t + 4));
#define LQ_W0(t) w[t]
#define LQ_WN(t) next(t)
  LQ_GROUP(LQ_F1, 0x5A827999u, 0, LQ_W0)
  LQ_GROUP(LQ_F1, 0x5A827999u, 5, LQ_W0)
  LQ_GROUP(LQ_F1, 0x5A827999u, 10, LQ_W0)
  LQ_STEP(a, b, c, d, e, LQ_F1, 0x5A827999u, w[15]);
  LQ_STEP(e, a, b, c, d, LQ_F1, 0x5A827999u, next(16));
  LQ_STEP(d, e, a, b, c, LQ_F1, 0x5A827999u, next(17));
  LQ_STEP(c, d, e, a, b, LQ_F1, 0x5A827999u, next(18));
  LQ_STEP(b, c, d, e, a, LQ_F1, 0x5A827999u, next(19));
  for (int t = 20; t < 40; t += 5) {
    LQ_GROUP(LQ_F2, 0x6ED9EBA1u, t, LQ_WN)
  }
  for (int t = 40; t < 60; t += 5) {
    LQ_GROUP(LQ_F3, 0x8F1BBCDCu, t, LQ_WN)
  }
  for (int t = 60; t < 80; t += 5) {
    LQ_GROUP(LQ_F2, 0xCA62C1D6u, t, LQ_WN)
  }
#undef LQ_F1
#undef LQ_F2
#undef LQ_F3
#undef LQ_STEP
#undef LQ_GROUP
#undef LQ_W0
#undef LQ_WN
  Digest[0] += a;
  Digest[1] += b;
  Digest[2] += c;
  Digest[3] += d;
  Digest[4] += e;
}

}  // namespace lanqi
