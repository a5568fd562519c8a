// Powers of ten to 64 bits, for the conversions and formats that multiply
// by them in integers instead of dividing in floating point.
//
// For each q in MIN_POWER_OF_TEN..MAX_POWER_OF_TEN, power_of_ten(q) gives P
// and b with
//   10^q = (P + t) × 2^(b - 63),  0 ≤ t < 1,  2^63 ≤ P < 2^64,
// where b = floor(log2 10^q): P is 10^q's first 64 bits, truncated. For
// 0 ≤ q ≤ 27 the power has at most 64 significant bits (10^q = 5^q × 2^q
// and 5^27 < 2^64), so t = 0. For q < 0 the power is no dyadic number and
// t > 0.
//
// The table is computed when compiling, in integers of 512 bits: 10^q for
// q ≥ 0, shifted to its first 128 bits; for q < 0, with D = 10^-q of w bits
// (2^(w-1) < D < 2^w, so b = -w), floor(2^(127+w) / D) by long division,
// bit by bit; of either, the first 64 bits (the floor of a floor is the
// floor of the exact quotient).
#pragma once

#include <cstdint>

namespace pcgrid {

__extension__ using Uint128 = unsigned __int128;

struct PowerOfTen {
  std::uint64_t p;      // 2^63 ≤ p < 2^64
  int binary_exponent;  // floor(log2 10^q)
};

namespace powers_detail {

inline constexpr int MIN_POWER = -100;
inline constexpr int MAX_POWER = 110;

constexpr int WORDS = 8;  // 2^(127+w) for 10^100 (w = 333) and 10^110 fit

struct Big {
  std::uint64_t word[WORDS]{};
};

constexpr bool bit(const Big& b, int i) {
  return i >= 0 && (b.word[i / 64] >> (i % 64) & 1) != 0;
}

constexpr int bit_width(const Big& b) {
  for (int i = 64 * WORDS - 1; i >= 0; --i) {
    if (bit(b, i)) return i + 1;
  }
  return 0;
}

constexpr Big times_ten(Big b) {
  Uint128 carry = 0;
  for (std::uint64_t& w : b.word) {
    carry += Uint128{w} * 10;
    w = static_cast<std::uint64_t>(carry);
    carry >>= 64;
  }
  return b;
}

constexpr Big doubled_plus(Big b, bool one) {
  std::uint64_t carry = one ? 1 : 0;
  for (std::uint64_t& w : b.word) {
    const std::uint64_t top = w >> 63;
    w = w << 1 | carry;
    carry = top;
  }
  return b;
}

constexpr bool at_least(const Big& a, const Big& b) {
  for (int i = WORDS - 1; i >= 0; --i) {
    if (a.word[i] != b.word[i]) return a.word[i] > b.word[i];
  }
  return true;
}

constexpr Big minus(Big a, const Big& b) {
  std::uint64_t borrow = 0;
  for (int i = 0; i < WORDS; ++i) {
    const std::uint64_t d = a.word[i] - b.word[i] - borrow;
    borrow = (a.word[i] < b.word[i] || (a.word[i] == b.word[i] && borrow != 0)) ? 1 : 0;
    a.word[i] = d;
  }
  return a;
}

constexpr Big ten_to(int n) {
  Big b;
  b.word[0] = 1;
  for (int i = 0; i < n; ++i) b = times_ten(b);
  return b;
}

constexpr PowerOfTen make_power(int q) {
  const Big d = ten_to(q < 0 ? -q : q);
  const int w = bit_width(d);
  Uint128 p = 0;
  if (q >= 0) {
    for (int i = 0; i < 128; ++i) p = p << 1 | (bit(d, w - 1 - i) ? 1 : 0);
    return {static_cast<std::uint64_t>(p >> 64), w - 1};
  }
  Big r;
  for (int i = 127 + w; i >= 0; --i) {
    r = doubled_plus(r, i == 127 + w);
    const bool one = at_least(r, d);
    if (one) r = minus(r, d);
    if (i < 128) p = p << 1 | (one ? 1 : 0);
  }
  return {static_cast<std::uint64_t>(p >> 64), -w};
}

struct Table {
  PowerOfTen power[MAX_POWER - MIN_POWER + 1];
};

constexpr Table make_table() {
  Table t{};
  for (int q = MIN_POWER; q <= MAX_POWER; ++q) t.power[q - MIN_POWER] = make_power(q);
  return t;
}

inline constexpr Table TABLE = make_table();

}  // namespace powers_detail

inline constexpr int MIN_POWER_OF_TEN = powers_detail::MIN_POWER;
inline constexpr int MAX_POWER_OF_TEN = powers_detail::MAX_POWER;

// 10^q to 64 bits, for MIN_POWER_OF_TEN ≤ q ≤ MAX_POWER_OF_TEN.
constexpr const PowerOfTen& power_of_ten(int q) {
  return powers_detail::TABLE.power[q - MIN_POWER_OF_TEN];
}

}  // namespace pcgrid
