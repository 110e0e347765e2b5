// What the plain scan asks of the machine, in two versions: SSE2 on x86-64,
// and 64-bit words (SWAR) elsewhere. Each finds the line feed that ends a
// line and its spaces as a mask with a bit per byte, and converts a line's
// numbers many digits at a time, checking that they are digits. Only
// plain_scan.cpp includes it.
#ifndef QEV2MID_PLAIN_SCAN_MASKS_H
#define QEV2MID_PLAIN_SCAN_MASKS_H

#include "plain_scan.h"

#include <array>
#include <cstdint>
#include <cstring>

#if defined(QEV2MID_SCAN_SSE2)
#include <emmintrin.h>
#endif

static inline std::uint32_t load32(const char *p) {
  std::uint32_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

// A field's digits are its bytes less '0', where field has 0xFF, and 0
// elsewhere: '0' to '9' become their values, and any other byte a value
// above 9, which non_digits finds.
static inline std::uint32_t digit_values(std::uint32_t raw, std::uint32_t field) {
  return (raw ^ 0x30303030u) & field;
}

// Nonzero where a value of digit_values is not a digit's: adding 0x76 sets
// the high bit of any above 9, and one with the high bit has it already. A
// byte whose sum carries into the next is at least 0x8A, so it is found on
// its own.
static inline std::uint32_t non_digits(std::uint32_t v) {
  return ((v + 0x76767676u) | v) & 0x80808080u;
}

// Four digit values, most significant first, as a number: pairs, then pairs
// of pairs.
static inline std::uint32_t number4(std::uint32_t v) {
  v = (v * 10 + (v >> 8)) & 0x00FF00FF;
  return (v * 100 + (v >> 16)) & 0xFFFF;
}

#if defined(QEV2MID_SCAN_SSE2)
static inline std::uint32_t mask32(__m128i lo, __m128i hi) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(lo)) |
         static_cast<std::uint32_t>(_mm_movemask_epi8(hi)) << 16;
}

// The line feeds among the 64 bytes at p, a bit for each.
static inline std::uint64_t line_feeds(const char *p) {
  const __m128i nl = _mm_set1_epi8('\n');
  std::uint64_t bits = 0;
  for (int i = 0; i < 4; ++i) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * i));
    bits |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, nl)))}
            << 16 * i;
  }
  return bits;
}

// The line feeds among the 64 bytes at chunk that stand before limit: the
// one at limit only marks the end of the data. A chunk at or past limit is
// not read.
static inline std::uint64_t feeds_before(const char *chunk, const char *limit) {
  std::ptrdiff_t left = limit - chunk;
  if (left <= 0) {
    return 0;
  }
  std::uint64_t feeds = line_feeds(chunk);
  return left >= 64 ? feeds : feeds & ((std::uint64_t{1} << left) - 1);
}

// Line feeds are found 64 bytes at a time ahead of the lines, so that no
// line waits for the one before it to be taken apart: those of the chunk
// at hand not yet taken.
struct feed_search {
  const char *chunk;
  std::uint64_t feeds;
};

static inline feed_search feeds_from(const char *p, const char *limit) {
  return {p, feeds_before(p, limit)};
}

// Finds the line feed that ends the line at p: false unless it stands
// within 32 bytes and before limit.
static inline bool next_feed(feed_search &f, const char *p, const char *limit, const char **lf) {
  if (f.feeds == 0) {
    f.chunk += 64;
    f.feeds = feeds_before(f.chunk, limit);
    // A line of 64 bytes or more is not plain.
    if (f.feeds == 0) {
      return false;
    }
  }
  *lf = f.chunk + __builtin_ctzll(f.feeds);
  f.feeds &= f.feeds - 1;
  return *lf - p <= 31;
}

// The spaces among the 32 bytes at p, a bit for each.
static inline std::uint32_t line_spaces(const char *p, int) {
  const __m128i sp = _mm_set1_epi8(' ');
  __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
  return mask32(_mm_cmpeq_epi8(lo, sp), _mm_cmpeq_epi8(hi, sp));
}

// The seconds, milliseconds and note of a line, s1 and s2 being the places
// of the first two spaces, with its layout's note end and digit masks: the
// seconds in the low half, the milliseconds and the note in the high half,
// loaded so that each ends where its field does (at worst 7 bytes before
// p); digits become pairs, then pairs of pairs, all at once. Returns
// whether they, and the velocity's (its non_digits), are all digits.
static inline bool line_numbers(const char *p, int s1, int s2, int note_end,
                                const std::array<std::uint64_t, 2> &digits,
                                std::uint32_t velocity_non_digits, std::uint32_t *time,
                                std::uint32_t *key) {
  __m128i x = _mm_unpacklo_epi64(
      _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + s1 - 8)),
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(load32(p + s2 - 4))),
                         _mm_cvtsi32_si128(static_cast<int>(load32(p + note_end - 4)))));
  x = _mm_and_si128(_mm_xor_si128(x, _mm_set1_epi8('0')),
                    _mm_load_si128(reinterpret_cast<const __m128i *>(digits.data())));
  // As non_digits, a byte at a time: a sum that wraps has the high bit in x.
  auto found = _mm_movemask_epi8(_mm_or_si128(_mm_add_epi8(x, _mm_set1_epi8(0x76)), x)) |
               static_cast<int>(velocity_non_digits);
  x = _mm_and_si128(_mm_add_epi16(_mm_mullo_epi16(x, _mm_set1_epi16(10)), _mm_srli_epi16(x, 8)),
                    _mm_set1_epi16(0xFF));
  x = _mm_madd_epi16(x, _mm_set1_epi32(0x00010064));
  // The seconds come out as their first and last four digits.
  auto sec = static_cast<std::uint64_t>(_mm_cvtsi128_si64(x));
  auto ms_note = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(x, x)));
  *time = static_cast<std::uint32_t>(sec) * 10000 * 1000 +
          static_cast<std::uint32_t>(sec >> 32) * 1000 + static_cast<std::uint32_t>(ms_note);
  *key = static_cast<std::uint32_t>(ms_note >> 32);
  return found == 0;
}
#else
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the word-at-a-time scan reads a line's first byte as a word's lowest");

static inline std::uint64_t load64(const char *p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

static constexpr std::uint64_t high_bits = 0x8080808080808080;

static constexpr std::uint64_t bytes_of(std::uint8_t b) {
  return 0x0101010101010101 * b;
}

// The high bits of w, which has no other, gathered into 8 bits: the
// multiply moves byte i's high bit to bit 56 + i, with no carry between them.
static inline std::uint32_t gather(std::uint64_t high) {
  return static_cast<std::uint32_t>((high * 0x0002040810204081) >> 56);
}

// High bits where a byte of w is 0, in four instructions rather than five
// for an exact test. Every zero byte is found; the borrow out of one makes
// a 1 just above it look like a zero as well, and so on up a run of them.
// For the scan that is safe: such a byte is never where a plain line has a
// line feed or a space. A line feed "found" in a vertical tab at the start
// of a line ends a line that is empty, and so not plain; a space "found" in
// a '!' after a space stands next to it, and no plain layout has two
// delimiters side by side.
static inline std::uint64_t zero_bytes(std::uint64_t w) {
  return (w - bytes_of(1)) & ~w & high_bits;
}

// A line's feed is found in its own words, which its spaces are then taken
// from: a word at a time costs no more than a mask of many lines ahead.
struct feed_search {};

static inline feed_search feeds_from(const char *, const char *) {
  return {};
}

// Finds the line feed that ends the line at p: false unless it stands
// within 32 bytes and before limit. zero_bytes finds the first zero byte
// exactly.
static inline bool next_feed(feed_search &, const char *p, const char *limit, const char **lf) {
  int at = 0;
  std::uint64_t feeds = zero_bytes(load64(p) ^ bytes_of('\n'));
  while (feeds == 0) {
    at += 8;
    if (at == 32) {
      return false;
    }
    feeds = zero_bytes(load64(p + at) ^ bytes_of('\n'));
  }
  *lf = p + at + __builtin_ctzll(feeds) / 8;
  return *lf < limit;
}

// Only the words that hold the line's text are looked at: a plain line is
// short, and each word costs some ten instructions. Its text is at least 9
// bytes long, and so takes two words at least.
static inline std::uint32_t line_spaces(const char *p, int text) {
  auto word = [p](int i) { return gather(zero_bytes(load64(p + i) ^ bytes_of(' '))) << i; };
  std::uint32_t spaces = word(0) | word(8);
  if (text > 16) {
    spaces |= word(16);
  }
  if (text > 24) {
    spaces |= word(24);
  }
  return spaces;
}

// digit_values and non_digits for eight bytes.
static inline std::uint64_t digit_values(std::uint64_t raw, std::uint64_t field) {
  return (raw ^ bytes_of('0')) & field;
}

static inline std::uint64_t non_digits(std::uint64_t v) {
  return ((v + bytes_of(0x76)) | v) & high_bits;
}

// Eight digit values, most significant first, as a number: pairs, pairs of
// pairs, then the two halves.
static inline std::uint32_t number8(std::uint64_t v) {
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
  return static_cast<std::uint32_t>((v * 10000 + (v >> 32)) & 0xFFFFFFFF);
}

// The milliseconds and the note side by side, as the SSE2 scan has them,
// converted together in the two halves of one word.
static inline bool line_numbers(const char *p, int s1, int s2, int note_end,
                                const std::array<std::uint64_t, 2> &digits,
                                std::uint32_t velocity_non_digits, std::uint32_t *time,
                                std::uint32_t *key) {
  std::uint64_t seconds = digit_values(load64(p + s1 - 8), digits[0]);
  std::uint64_t v =
      digit_values(load32(p + s2 - 4) | std::uint64_t{load32(p + note_end - 4)} << 32, digits[1]);
  bool found = (non_digits(seconds) | non_digits(v) | velocity_non_digits) == 0;
  std::uint32_t sec = number8(seconds);
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
  *time = sec * 1000 + static_cast<std::uint32_t>(v);
  *key = static_cast<std::uint32_t>(v >> 32);
  return found;
}
#endif

#endif
