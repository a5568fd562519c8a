#include "structural_scan.hpp"

#if PCGRID_AVX2_VARIANT
#include <immintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>

#include "byte_classes.hpp"

namespace pcgrid {

namespace {

struct Masks64 {
  std::uint64_t blank;
  std::uint64_t newline;
};

Masks64 classify64_16(const char* p) {
  Masks64 m{0, 0};
  for (int part = 0; part < 4; ++part) {
    m.blank |= std::uint64_t{blank_mask16(p + 16 * part)} << (16 * part);
    m.newline |= std::uint64_t{byte_mask16(p + 16 * part, '\n')} << (16 * part);
  }
  return m;
}

#if PCGRID_AVX2_VARIANT
[[gnu::target("avx2")]] Masks64 classify64_avx2(const char* p) {
  Masks64 m{0, 0};
  for (int part = 0; part < 2; ++part) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * part));
    const __m256i from_tab = _mm256_sub_epi8(x, _mm256_set1_epi8('\t'));
    const __m256i control =
        _mm256_cmpeq_epi8(_mm256_min_epu8(from_tab, _mm256_set1_epi8(4)), from_tab);
    const __m256i space = _mm256_cmpeq_epi8(x, _mm256_set1_epi8(' '));
    const __m256i newline = _mm256_cmpeq_epi8(x, _mm256_set1_epi8('\n'));
    const auto blank =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(control, space)));
    const auto lines = static_cast<std::uint32_t>(_mm256_movemask_epi8(newline));
    m.blank |= std::uint64_t{blank} << (32 * part);
    m.newline |= std::uint64_t{lines} << (32 * part);
  }
  return m;
}
#endif

// The bits of a window that lie at or after the end of the text: `left`
// bytes of it are still text.
std::uint64_t past_end(std::ptrdiff_t left) {
  if (left >= 64) return 0;
  if (left <= 0) return ~std::uint64_t{0};
  return ~std::uint64_t{0} << left;
}

// The two variants share their loops; only the window classification differs.
template <Masks64 (*Classify)(const char*)>
[[gnu::always_inline]] inline void classify_line_with(const char* line, const char* end,
                                                      LineWindows& windows) {
  int w = 0;
  for (; w < LINE_WINDOWS; ++w) {
    const char* p = line + 64 * w;
    const Masks64 m = Classify(p);
    const std::uint64_t outside = past_end(end - p);
    windows.blank[w] = m.blank | outside;
    windows.newline[w] = m.newline | outside;
    if (windows.newline[w] != 0) {
      ++w;
      break;
    }
  }
  windows.count = w;
}

// Pieces of a line of `length` characters (its newline included, if any).
std::size_t pieces_of(std::size_t length, std::size_t max) {
  return length <= max ? 1 : (length + max - 1) / max;
}

template <Masks64 (*Classify)(const char*)>
[[gnu::always_inline]] inline std::size_t count_pieces_with(const char* begin, const char* end,
                                                            std::size_t max) {
  std::size_t pieces = 0;
  const char* line = begin;
  for (const char* p = begin; p < end; p += 64) {
    std::uint64_t lines = Classify(p).newline & ~past_end(end - p);
    for (; lines != 0; lines &= lines - 1) {
      const char* newline = p + std::countr_zero(lines);
      pieces += pieces_of(static_cast<std::size_t>(newline - line) + 1, max);
      line = newline + 1;
    }
  }
  if (line < end) pieces += pieces_of(static_cast<std::size_t>(end - line), max);
  return pieces;
}

// The positions of the bits of `bits` from `base` on, written to `out`;
// their count. The first eight are written whatever the count (the rest of
// them past the count, which the next window overwrites), so that the usual
// window costs no branch that depends on its tokens.
[[gnu::always_inline]] inline int positions(std::uint64_t bits, std::uint32_t base,
                                            std::uint32_t* out) {
  const int count = std::popcount(bits);
  for (int i = 0; i < 8; ++i) {
    out[i] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
    bits &= bits - 1;
  }
  for (int i = 8; i < count; ++i) {
    out[i] = base + static_cast<std::uint32_t>(std::countr_zero(bits));
    bits &= bits - 1;
  }
  return count;
}

// Tokens begin where a byte that is not white space follows white space
// (or the line's start), and end at the first white space after them; the
// masks carry the last byte of each window into the next. Only the bits up
// to the line's newline count.
template <Masks64 (*Classify)(const char*)>
[[gnu::always_inline]] inline bool find_tokens_with(const char* line, const char* end,
                                                    std::size_t max, int wanted,
                                                    LineTokens& tokens) {
  LineWindows windows;
  classify_line_with<Classify>(line, end, windows);
  const int last = windows.count - 1;
  const std::uint64_t newline = windows.newline[last];
  if (newline == 0) return false;
  const std::size_t length = static_cast<std::size_t>(64 * last + std::countr_zero(newline)) +
                             (line + 64 * last + std::countr_zero(newline) < end ? 1 : 0);
  if (length > max) return false;
  tokens.length = length;
  int begins = 0;
  int ends = 0;
  std::uint64_t carry = 0;  // whether the byte before the window is part of a token
  for (int w = 0; w <= last && ends < wanted; ++w) {
    const std::uint64_t solid = ~windows.blank[w];
    const std::uint64_t before = (solid << 1) | carry;
    carry = solid >> 63;
    const std::uint64_t within = w == last ? newline ^ (newline - 1) : ~std::uint64_t{0};
    const auto base = static_cast<std::uint32_t>(64 * w);
    begins += positions(solid & ~before & within, base, tokens.begin + begins);
    ends += positions(~solid & before & within, base, tokens.end + ends);
  }
  tokens.count = ends < wanted ? ends : wanted;
  return true;
}

#if PCGRID_AVX2_VARIANT
const bool AVX2 = [] {
  __builtin_cpu_init();
  // Every processor with AVX2 has POPCNT and BMI1 as well; the variant
  // uses all three.
  return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("popcnt") != 0 &&
         __builtin_cpu_supports("bmi") != 0;
}();
#else
constexpr bool AVX2 = false;
#endif

}  // namespace

bool avx2_available() {
  return AVX2;
}

void classify_line_16(const char* line, const char* end, LineWindows& windows) {
  classify_line_with<classify64_16>(line, end, windows);
}

std::size_t count_pieces_16(const char* begin, const char* end, std::size_t max) {
  return count_pieces_with<classify64_16>(begin, end, max);
}

bool find_tokens_16(const char* line, const char* end, std::size_t max, int wanted,
                    LineTokens& tokens) {
  return find_tokens_with<classify64_16>(line, end, max, wanted, tokens);
}

#if PCGRID_AVX2_VARIANT
[[gnu::target("avx2,popcnt,bmi")]] void classify_line_avx2(const char* line, const char* end,
                                                           LineWindows& windows) {
  classify_line_with<classify64_avx2>(line, end, windows);
}

[[gnu::target("avx2,popcnt,bmi")]] std::size_t count_pieces_avx2(const char* begin, const char* end,
                                                                 std::size_t max) {
  return count_pieces_with<classify64_avx2>(begin, end, max);
}

[[gnu::target("avx2,popcnt,bmi")]] bool find_tokens_avx2(const char* line, const char* end,
                                                         std::size_t max, int wanted,
                                                         LineTokens& tokens) {
  return find_tokens_with<classify64_avx2>(line, end, max, wanted, tokens);
}

void classify_line(const char* line, const char* end, LineWindows& windows) {
  if (AVX2) {
    classify_line_avx2(line, end, windows);
  } else {
    classify_line_16(line, end, windows);
  }
}

std::size_t count_pieces(const char* begin, const char* end, std::size_t max) {
  return AVX2 ? count_pieces_avx2(begin, end, max) : count_pieces_16(begin, end, max);
}

bool find_tokens(const char* line, const char* end, std::size_t max, int wanted,
                 LineTokens& tokens) {
  return AVX2 ? find_tokens_avx2(line, end, max, wanted, tokens)
              : find_tokens_16(line, end, max, wanted, tokens);
}
#else
void classify_line(const char* line, const char* end, LineWindows& windows) {
  classify_line_16(line, end, windows);
}

std::size_t count_pieces(const char* begin, const char* end, std::size_t max) {
  return count_pieces_16(begin, end, max);
}

bool find_tokens(const char* line, const char* end, std::size_t max, int wanted,
                 LineTokens& tokens) {
  return find_tokens_16(line, end, max, wanted, tokens);
}
#endif

void cut_at_newlines(std::string_view text, int parts, const char** bounds) {
  const char* const end = text.data() + text.size();
  bounds[0] = text.data();
  for (int k = 1; k < parts; ++k) {
    const char* p =
        text.data() + text.size() / static_cast<std::size_t>(parts) * static_cast<std::size_t>(k);
    p = std::max(p, bounds[k - 1]);
    const void* newline = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    bounds[k] = newline != nullptr ? static_cast<const char*>(newline) + 1 : end;
  }
  bounds[parts] = end;
}

}  // namespace pcgrid
