// Sixteen bytes classified at once: bit i of a mask stands for byte i of
// the 16 from p (so the masks do not depend on the byte order), and all 16
// must be readable. The classes are those of the C locale, on the bytes'
// unsigned values, so that they do not depend on whether char is signed.
//
// The variant is chosen when the program is compiled: SSE2 on x86 (which
// every x86-64 processor has), NEON on aarch64 (which every such processor
// has), and on any other target a loop over the bytes. The portable loop
// is also compiled everywhere as `byte_classes_portable`, the definition
// the others are tested against on every byte value at every position.
//
// Why the vector forms are exact. Bytes are compared as unsigned 8-bit
// lanes. A byte b is in ['\t', '\r'] when b - '\t', wrapped to 8 bits, is at
// most 4: below '\t' it wraps to 248 or more, above '\r' it is 5 or more.
// The same holds for digits with '0' and 9. SSE2 has no unsigned "at most",
// so it asks whether min(d, 4) == d; NEON has one (vcleq_u8). A lane that
// holds is all ones, and the movemask gathers one bit of each lane in lane
// order: SSE2's _mm_movemask_epi8 by definition, NEON by keeping bit
// (i mod 8) of lane i and adding the eight lanes of each half, whose bits
// do not overlap.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#elif defined(__ARM_NEON) && defined(__aarch64__)
#include <arm_neon.h>
#endif

namespace pcgrid {

namespace byte_classes_portable {

template <typename In>
inline unsigned mask16(const char* p, In in) {
  unsigned mask = 0;
  for (int i = 0; i < 16; ++i) {
    if (in(static_cast<unsigned char>(p[i]))) mask |= 1u << i;
  }
  return mask;
}

// White space: ' ' and '\t' to '\r' (newlines included).
inline unsigned blank_mask16(const char* p) {
  return mask16(p, [](unsigned c) { return c == ' ' || (c >= '\t' && c <= '\r'); });
}
inline unsigned digit_mask16(const char* p) {
  return mask16(p, [](unsigned c) { return c >= '0' && c <= '9'; });
}
inline unsigned byte_mask16(const char* p, char byte) {
  const auto wanted = static_cast<unsigned char>(byte);
  return mask16(p, [wanted](unsigned c) { return c == wanted; });
}

}  // namespace byte_classes_portable

#if defined(__SSE2__)

inline __m128i load_bytes16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
// The lanes whose byte is `low` + 0 .. `low` + span.
inline __m128i lanes_in(__m128i x, char low, char span) {
  const __m128i from_low = _mm_sub_epi8(x, _mm_set1_epi8(low));
  return _mm_cmpeq_epi8(_mm_min_epu8(from_low, _mm_set1_epi8(span)), from_low);
}
inline unsigned lane_mask(__m128i lanes) {
  return static_cast<unsigned>(_mm_movemask_epi8(lanes));
}

inline unsigned blank_mask16(const char* p) {
  const __m128i x = load_bytes16(p);
  return lane_mask(_mm_or_si128(lanes_in(x, '\t', 4), _mm_cmpeq_epi8(x, _mm_set1_epi8(' '))));
}
inline unsigned digit_mask16(const char* p) {
  return lane_mask(lanes_in(load_bytes16(p), '0', 9));
}
inline unsigned byte_mask16(const char* p, char byte) {
  return lane_mask(_mm_cmpeq_epi8(load_bytes16(p), _mm_set1_epi8(byte)));
}

#elif defined(__ARM_NEON) && defined(__aarch64__)

inline uint8x16_t load_bytes16(const char* p) {
  return vld1q_u8(reinterpret_cast<const std::uint8_t*>(p));
}
inline uint8x16_t lanes_in(uint8x16_t x, char low, std::uint8_t span) {
  return vcleq_u8(vsubq_u8(x, vdupq_n_u8(static_cast<std::uint8_t>(low))), vdupq_n_u8(span));
}
inline unsigned lane_mask(uint8x16_t lanes) {
  const std::uint8_t weights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t bits = vandq_u8(lanes, vld1q_u8(weights));
  return unsigned{vaddv_u8(vget_low_u8(bits))} | unsigned{vaddv_u8(vget_high_u8(bits))} << 8;
}

inline unsigned blank_mask16(const char* p) {
  const uint8x16_t x = load_bytes16(p);
  return lane_mask(vorrq_u8(lanes_in(x, '\t', 4), vceqq_u8(x, vdupq_n_u8(' '))));
}
inline unsigned digit_mask16(const char* p) {
  return lane_mask(lanes_in(load_bytes16(p), '0', 9));
}
inline unsigned byte_mask16(const char* p, char byte) {
  return lane_mask(vceqq_u8(load_bytes16(p), vdupq_n_u8(static_cast<std::uint8_t>(byte))));
}

#else

using byte_classes_portable::blank_mask16;
using byte_classes_portable::byte_mask16;
using byte_classes_portable::digit_mask16;

#endif

}  // namespace pcgrid
