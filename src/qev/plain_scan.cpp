// The plain-line scan: masks of a line's spaces and digits, a table of the
// 480 plain line layouts, and digit conversion many digits at a time, with
// SSE2 or with 64-bit words (SWAR). See plain_scan.h for its contract.
#include "plain_scan.h"

#if defined(QEV2MID_SCAN_SSE2) || defined(QEV2MID_SCAN_SWAR)
#include <array>
#include <cstring>

#if defined(QEV2MID_SCAN_SSE2)
#include <emmintrin.h>
#endif

// Most lines are written by programs in one plain form: numbers without
// sign of 1 to 6 digits for the seconds and 1 to 4 for the others, single
// spaces, and at most a carriage return before the line feed. Six digits
// of seconds keep every time within 32 bits. There are 480 ways to lay such
// a line out, and the places of its spaces and of the end of its text tell
// them apart. Each layout is looked up from those places by a hash that has
// no collisions among them; the table says where the fields end and holds
// masks that keep just their digits.
struct layout {
  // The seconds in the eight bytes that end where they end, then the
  // milliseconds and the note side by side, each in the four bytes that
  // end where the field ends.
  alignas(16) std::array<std::uint64_t, 2> digits;
  std::uint32_t velocity_digits; // likewise; 0 when there is no velocity
  std::uint32_t delimiters;      // a bit for each space and one for the end of the text
  std::uint8_t note_end;
  char kind; // the kind besides "D" that the line may have: "P" needs a velocity
};

static constexpr std::uint32_t layout_hash_multiplier = 0x36EC4561;
static constexpr int layout_hash_bits = 12;

static constexpr std::uint32_t layout_slot(std::uint32_t delimiters) {
  return (delimiters * layout_hash_multiplier) >> (32 - layout_hash_bits);
}

// The digits of the last n (1 to 4) bytes of a four-byte word.
static constexpr std::uint32_t tail_digits(int n) {
  return 0x0F0F0F0Fu << 8 * (4 - n);
}

// Each layout sits at its hash value; the other entries have no delimiters
// and match no line.
using layout_table = std::array<layout, std::size_t{1} << layout_hash_bits>;

static constexpr layout_table make_layouts() {
  layout_table t{};
  for (int sec = 1; sec <= 6; ++sec) {
    for (int ms = 1; ms <= 4; ++ms) {
      for (int note = 1; note <= 4; ++note) {
        for (int vel = 0; vel <= 4; ++vel) {
          int s2 = sec + 1 + ms, note_end = s2 + 5 + note;
          int text = vel > 0 ? note_end + 1 + vel : note_end;
          std::uint32_t d = 1u << sec | 1u << s2 | 1u << (s2 + 2) | 1u << (s2 + 4) | 1u << text;
          if (vel > 0) {
            d |= 1u << note_end;
          }
          layout &l = t[layout_slot(d)];
          if (l.delimiters != 0) {
            throw "two layouts share a hash value";
          }
          l.digits = {0x0F0F0F0F0F0F0F0Fu << 8 * (8 - sec),
                      tail_digits(ms) | std::uint64_t{tail_digits(note)} << 32};
          l.velocity_digits = vel > 0 ? tail_digits(vel) : 0;
          l.delimiters = d;
          l.note_end = static_cast<std::uint8_t>(note_end);
          l.kind = vel > 0 ? 'P' : 'D';
        }
      }
    }
  }
  return t;
}

static constexpr layout_table layouts = make_layouts();

static inline std::uint32_t load32(const char *p) {
  std::uint32_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

// Four digit bytes, most significant first, masked to the field's (the rest
// 0), as a number: pairs, then pairs of pairs.
static inline std::uint32_t number4(std::uint32_t v) {
  v = (v * 10 + (v >> 8)) & 0x00FF00FF;
  return (v * 100 + (v >> 16)) & 0xFFFF;
}

#if defined(QEV2MID_SCAN_SSE2)
static inline std::uint32_t mask32(__m128i lo, __m128i hi) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(lo)) |
         static_cast<std::uint32_t>(_mm_movemask_epi8(hi)) << 16;
}

// Bytes '0' to '9' become -128 to -119 when shifted by 0x50, the only values
// below -118 as signed bytes.
static inline __m128i digit_bytes(__m128i v) {
  return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(0x50)), _mm_set1_epi8(-118));
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

// The spaces and the digits among the 32 bytes at p, a bit for each.
static inline void line_masks(const char *p, int, std::uint32_t *spaces, std::uint32_t *digits) {
  const __m128i sp = _mm_set1_epi8(' ');
  __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
  *spaces = mask32(_mm_cmpeq_epi8(lo, sp), _mm_cmpeq_epi8(hi, sp));
  *digits = mask32(digit_bytes(lo), digit_bytes(hi));
}

// The seconds, milliseconds and note of a line whose layout is l, s1 and s2
// being the places of the first two spaces: the seconds in the low half,
// the milliseconds and the note in the high half, loaded so that each ends
// where its field does (at worst 7 bytes before p); digits become pairs,
// then pairs of pairs, all at once.
static inline void line_numbers(const char *p, int s1, int s2, const layout &l, std::uint32_t *time,
                                std::uint32_t *key) {
  __m128i x = _mm_unpacklo_epi64(
      _mm_loadl_epi64(reinterpret_cast<const __m128i *>(p + s1 - 8)),
      _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(load32(p + s2 - 4))),
                         _mm_cvtsi32_si128(static_cast<int>(load32(p + l.note_end - 4)))));
  x = _mm_and_si128(x, _mm_load_si128(reinterpret_cast<const __m128i *>(l.digits.data())));
  x = _mm_and_si128(_mm_add_epi16(_mm_mullo_epi16(x, _mm_set1_epi16(10)), _mm_srli_epi16(x, 8)),
                    _mm_set1_epi16(0xFF));
  x = _mm_madd_epi16(x, _mm_set1_epi32(0x00010064));
  // The seconds come out as their first and last four digits.
  auto sec = static_cast<std::uint64_t>(_mm_cvtsi128_si64(x));
  auto ms_note = static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(x, x)));
  *time = static_cast<std::uint32_t>(sec) * 10000 * 1000 +
          static_cast<std::uint32_t>(sec >> 32) * 1000 + static_cast<std::uint32_t>(ms_note);
  *key = static_cast<std::uint32_t>(ms_note >> 32);
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
static constexpr std::uint64_t low_bits = 0x7F7F7F7F7F7F7F7F;

static constexpr std::uint64_t bytes_of(std::uint8_t b) {
  return 0x0101010101010101 * b;
}

// The high bit of each byte of w, gathered into 8 bits: the multiply moves
// byte i's high bit to bit 56 + i, with no carry between them.
static inline std::uint32_t gather(std::uint64_t w) {
  return static_cast<std::uint32_t>(((w & high_bits) * 0x0002040810204081) >> 56);
}

// High bits where a byte of w is 0, exactly: no borrow crosses a byte.
static inline std::uint64_t zero_bytes(std::uint64_t w) {
  return ~(((w & low_bits) + low_bits) | w) & high_bits;
}

// High bits where a byte is '0' to '9': at least '0' and below ':' once the
// high bit is put aside, and without the high bit.
static inline std::uint64_t digit_bytes(std::uint64_t w) {
  std::uint64_t low = w & low_bits;
  return (low + bytes_of(0x80 - '0')) & ~(low + bytes_of(0x80 - ':')) & ~w & high_bits;
}

static inline std::uint64_t line_feeds(const char *p) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) {
    bits |= std::uint64_t{gather(zero_bytes(load64(p + 8 * i) ^ bytes_of('\n')))} << 8 * i;
  }
  return bits;
}

// Only the words that hold the line's text are looked at: a plain line is
// short, and each word costs a score of instructions.
static inline void line_masks(const char *p, int text, std::uint32_t *spaces,
                              std::uint32_t *digits) {
  std::uint32_t sp = 0, dg = 0;
  for (int i = 0; i < text; i += 8) {
    std::uint64_t w = load64(p + i);
    sp |= gather(zero_bytes(w ^ bytes_of(' '))) << i;
    dg |= gather(digit_bytes(w)) << i;
  }
  *spaces = sp;
  *digits = dg;
}

// Eight digit bytes, most significant first, masked to the field's, as a
// number: pairs, pairs of pairs, then the two halves.
static inline std::uint32_t number8(std::uint64_t v) {
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
  return static_cast<std::uint32_t>((v * 10000 + (v >> 32)) & 0xFFFFFFFF);
}

// The milliseconds and the note side by side, as the SSE2 scan has them,
// converted together in the two halves of one word.
static inline void line_numbers(const char *p, int s1, int s2, const layout &l, std::uint32_t *time,
                                std::uint32_t *key) {
  std::uint32_t sec = number8(load64(p + s1 - 8) & l.digits[0]);
  std::uint64_t v =
      (load32(p + s2 - 4) | std::uint64_t{load32(p + l.note_end - 4)} << 32) & l.digits[1];
  v = (v * 10 + (v >> 8)) & 0x00FF00FF00FF00FF;
  v = (v * 100 + (v >> 16)) & 0x0000FFFF0000FFFF;
  *time = sec * 1000 + static_cast<std::uint32_t>(v);
  *key = static_cast<std::uint32_t>(v >> 32);
}
#endif

// Lines are taken many in a row, from masks of 32 bytes at a time with no
// loop over their bytes.
template <bool Lines>
static inline std::size_t scan(const char **start, const char *limit, std::uint32_t last,
                               timed_event *out, std::size_t room, plain_line *lines) {
  const char *p = *start;
  // Line feeds are found 64 bytes at a time ahead of the lines, so that no
  // line waits for the one before it to be taken apart.
  const char *chunk = p;
  std::uint64_t feeds = line_feeds(chunk);
  std::size_t n = 0;
  while (n < room) {
    if (feeds == 0) {
      chunk += 64;
      feeds = line_feeds(chunk);
      // A line of 64 bytes or more is not plain.
      if (feeds == 0) {
        break;
      }
    }
    const char *lf = chunk + __builtin_ctzll(feeds);
    feeds &= feeds - 1;
    // The line feed at limit only marks the end of the data.
    if (lf >= limit || lf - p > 31) {
      break;
    }
    // p[-1] is the line feed before the line, or a spare byte: text >= 0.
    auto text = static_cast<int>(lf - p) - (lf[-1] == '\r');
    std::uint32_t inside = (1u << text) - 1;
    std::uint32_t spaces = 0, digits = 0;
    line_masks(p, text, &spaces, &digits);
    std::uint32_t delimiters = (spaces & inside) | (inside + 1);
    const layout &l = layouts[layout_slot(delimiters)];
    // Taken from the spaces rather than the layout, so that the line does
    // not wait for the table.
    int s2 = __builtin_ctz((spaces & (spaces - 1)) | 1u << 31);
    char chan = p[s2 + 1], kind = p[s2 + 3];
    // One test of all the conditions rather than a branch for each: the
    // spaces where the layout has them, digits everywhere else but at the
    // channel and the kind, and those two valid.
    bool plain = (l.delimiters == delimiters) &
                 (((digits | spaces | 0xAu << s2) & inside) == inside) &
                 (static_cast<unsigned char>(chan - 'a') < 16) & ((kind == 'D') | (kind == l.kind));
    if (!plain) {
      break;
    }
    std::uint32_t time = 0, key = 0;
    line_numbers(p, __builtin_ctz(spaces), s2, l, &time, &key);
    std::uint32_t v = number4(load32(p + text - 4) & l.velocity_digits);
    // The field rules' bounds: data bytes below 128, then no going back. A
    // line that breaks them is left for the field rules to explain.
    if (((key | v) >= 128) | !in_order(time, last)) {
      break;
    }
    // "P" has the bit 0x10 that "D" lacks, which is what tells a note on
    // from a note off.
    out[n++] = {time, static_cast<std::uint8_t>(0x80 | (kind & 0x10) | (chan - 'a')),
                static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(v)};
    if constexpr (Lines) {
      lines[n - 1] = {static_cast<std::uint8_t>(s2 + 5), static_cast<std::uint8_t>(lf + 1 - p)};
    }
    last = time;
    p = lf + 1;
  }
  *start = p;
  return n;
}

std::size_t scan_plain(const char **start, const char *limit, std::uint32_t last, timed_event *out,
                       std::size_t room) {
  return scan<false>(start, limit, last, out, room, nullptr);
}

std::size_t scan_plain_lines(const char **start, const char *limit, std::uint32_t last,
                             timed_event *out, plain_line *lines, std::size_t room) {
  return scan<true>(start, limit, last, out, room, lines);
}
#else
std::size_t scan_plain(const char **, const char *, std::uint32_t, timed_event *, std::size_t) {
  return 0;
}

std::size_t scan_plain_lines(const char **, const char *, std::uint32_t, timed_event *,
                             plain_line *, std::size_t) {
  return 0;
}
#endif
