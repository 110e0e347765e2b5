#include "event_reader.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

std::uint32_t curtime = 0;

// QEV files come from systems whose text mode reads CR LF as LF and treats
// 0x1A as the end of the file, and whose reader took lines with fgets into
// 1000 bytes. Reading here gives exactly the lines that would have given,
// but takes the input in large blocks and scans each line where it lies.

// fgets into 1000 bytes takes at most 998 characters and the line feed.
static constexpr std::size_t max_line = 998;
static constexpr char eof_mark = 0x1A;

// Why no more data will come.
enum class input_end { none, end_of_file, nul, read_error };

// buf[pos, len) is read but not yet consumed. buf[len] is always a line feed,
// so that a scan stops at the end of the data without testing for it. Room
// is kept for an unfinished line carried over in front of the next block,
// and behind the data for numbers read a word at a time.
// The plain-line scan looks at 32 bytes and reads numbers 8 bytes at a time.
static constexpr std::size_t lookahead = 40;
static char buf[max_line + 2 + read_block_size + 1 + lookahead] = {'\n'};
static std::size_t pos = 0;
static std::size_t len = 0;
static input_end ended = input_end::none;

void reader_restart() {
  curtime = 0;
  pos = len = 0;
  ended = input_end::none;
  buf[0] = '\n';
}

// Moves the unfinished line to the front and reads the next block behind it.
// Data stops at the first NUL or 0x1A, whichever comes first: nothing after
// either can be part of a good line.
static void refill(std::FILE *in) {
  std::size_t rest = len - pos;
  std::memmove(buf, buf + pos, rest);
  pos = 0;
  std::size_t got = std::fread(buf + rest, 1, read_block_size, in);
  if (got < read_block_size) {
    ended = std::ferror(in) ? input_end::read_error : input_end::end_of_file;
  }
  char *fresh = buf + rest;
  auto *nul = static_cast<char *>(std::memchr(fresh, '\0', got));
  std::size_t scan = nul != nullptr ? static_cast<std::size_t>(nul - fresh) : got;
  auto *mark = static_cast<char *>(std::memchr(fresh, eof_mark, scan));
  if (mark != nullptr) {
    got = static_cast<std::size_t>(mark - fresh);
    ended = input_end::end_of_file;
  } else if (nul != nullptr) {
    got = scan;
    ended = input_end::nul;
  }
  len = rest + got;
  buf[len] = '\n';
}

// White space as the C locale's isspace has it, less the line feed, which
// only ever ends a line here.
static inline bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r' && c != '\n');
}

static inline const char *skip_blanks(const char *p) {
  while (is_blank(*p)) {
    ++p;
  }
  return p;
}

// The number of decimal digits at the start of 8 bytes read as a
// little-endian word: a digit is 0x30 to 0x39, so its high nibble is 3
// before and after adding 6. A carry out of a byte comes only from a byte
// that is no digit, which ends the count anyway.
static inline int leading_digits(std::uint64_t x) {
  constexpr std::uint64_t high = 0xF0F0F0F0F0F0F0F0, threes = 0x3030303030303030;
  std::uint64_t other = ((x & high) ^ threes) | (((x + 0x0606060606060606) & high) ^ threes);
  return other == 0 ? 8 : __builtin_ctzll(other) / 8;
}

// The value of the first n (1 to 8) digits of x, the first the most significant.
static inline std::uint64_t digits_value(std::uint64_t x, int n) {
  x <<= 8 * (8 - n); // the missing digits become leading zeros
  x &= 0x0F0F0F0F0F0F0F0F;
  x = (x * 10 + (x >> 8)) & 0x00FF00FF00FF00FF;
  x = (x * 100 + (x >> 16)) & 0x0000FFFF0000FFFF;
  return (x * 10000 + (x >> 32)) & 0xFFFFFFFF;
}

// Converts an unsigned decimal number as %lu does: an optional sign, then
// one or more digits. Returns null when no digit follows. A number with a
// minus sign, or above 32 bits, sets *bad: rather than wrap into a value
// that was never written, the line is refused. Reads up to 8 bytes ahead,
// which the buffer's padding allows.
static inline const char *scan_number(const char *p, std::uint64_t *value, bool *bad) {
  bool minus = *p == '-';
  if (minus || *p == '+') {
    ++p;
  }
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  int n = leading_digits(word);
  if (n == 0) {
    return nullptr;
  }
  std::uint64_t v = digits_value(word, n);
  p += n;
  if (n == 8) {
    // Longer numbers are rare: leading zeros or values out of range.
    for (auto digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0'); digit <= 9;
         digit = static_cast<unsigned>(static_cast<unsigned char>(*++p) - '0')) {
      // Past 32 bits the value only has to stay too large.
      if (v <= 0xFFFFFFFF) {
        v = v * 10 + digit;
      }
    }
  }
  *bad |= minus || v > 0xFFFFFFFF;
  *value = v;
  return p;
}

// A line's meaning, when it is a valid event.
struct event {
  bool valid;
  std::uint32_t time;
  std::uint8_t status, note, velocity;
};

// Checks the converted fields of a line; has_vel tells whether the sixth
// field converted.
static inline event make_event(std::uint64_t sec, std::uint64_t ms, char chan, char kind,
                               std::uint64_t key, bool has_vel, std::uint64_t vel, bool bad) {
  event e{false, 0, 0, 0, 0};
  if (chan < 'a' || chan > 'p' || (kind != 'P' && kind != 'D') || (kind == 'P' && !has_vel) ||
      bad) {
    return e;
  }
  // Data bytes stop at 127: a byte of 128 or more is a status byte to every
  // MIDI reader, and the file would fall out of step.
  if (key > 127 || vel > 127) {
    return e;
  }
  // Exact, not modulo 2^32: a wrapped time would put the event in the wrong place.
  std::uint64_t t = sec * 1000 + ms;
  if (t > 0xFFFFFFFF) {
    return e;
  }
  e.valid = true;
  e.time = static_cast<std::uint32_t>(t);
  e.status = static_cast<std::uint8_t>((kind == 'P' ? 0x90 : 0x80) + (chan - 'a'));
  e.note = static_cast<std::uint8_t>(key);
  e.velocity = static_cast<std::uint8_t>(vel);
  return e;
}

// The fields of "%lu %lu %c %c %lu %lu", scanned as sscanf does. *end is
// where the scan stopped: the line feed, or somewhere before it.
static event scan_fields(const char *p, const char **end) {
  event none{false, 0, 0, 0, 0};
  std::uint64_t sec = 0, ms = 0, key = 0, vel = 0;
  bool bad = false;
  *end = p;
  if ((p = scan_number(skip_blanks(p), &sec, &bad)) == nullptr) {
    return none;
  }
  *end = p;
  if ((p = scan_number(skip_blanks(p), &ms, &bad)) == nullptr) {
    return none;
  }
  *end = p = skip_blanks(p);
  char chan = *p;
  if (chan == '\n') {
    return none;
  }
  *end = p = skip_blanks(p + 1);
  char kind = *p;
  if (kind == '\n') {
    return none;
  }
  *end = ++p;
  if ((p = scan_number(skip_blanks(p), &key, &bad)) == nullptr) {
    return none;
  }
  *end = p;
  // The velocity may be left out after "D", and is then 0.
  const char *after = scan_number(skip_blanks(p), &vel, &bad);
  if (after != nullptr) {
    *end = after;
  }
  return make_event(sec, ms, chan, kind, key, after != nullptr, vel, bad);
}

bool scan_line(const char *line, std::uint32_t *time, std::uint8_t *status, std::uint8_t *note,
               std::uint8_t *velocity) {
  const char *end = nullptr;
  event e = scan_fields(line, &end);
  *time = e.time;
  *status = e.status;
  *note = e.note;
  *velocity = e.velocity;
  return e.valid;
}

#if defined(__SSE2__)
// Masks of the bytes among 32 that equal c, or that are digits.
static inline std::uint32_t bytes_equal(__m128i lo, __m128i hi, char c) {
  __m128i cc = _mm_set1_epi8(c);
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, cc))) |
         static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, cc))) << 16;
}

static inline std::uint32_t digit_bytes(__m128i v) {
  __m128i zero = _mm_set1_epi8('0'), nine = _mm_set1_epi8('9');
  __m128i in = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, zero), v),
                             _mm_cmpeq_epi8(_mm_min_epu8(v, nine), v));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(in));
}

static inline std::uint64_t number_at(const char *p, int length) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return digits_value(word, length);
}

// Most lines are written by programs in one plain form: short unsigned
// numbers, single spaces, a channel letter and a kind letter, and at most a
// carriage return before the line feed. Such a line is recognised from 32
// bytes at once, with no byte-by-byte loop; for it, the result equals the
// full scan's. Returns the line's length with its line feed, or 0 when the
// line is of another form and needs the full scan.
static inline std::size_t scan_plain(const char *p, event *e) {
  __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
  std::uint32_t lf = bytes_equal(lo, hi, '\n');
  if (lf == 0) {
    return 0;
  }
  int end = __builtin_ctz(lf);
  int text = end > 0 && p[end - 1] == '\r' ? end - 1 : end;
  std::uint32_t inside = (1u << text) - 1;
  std::uint32_t spaces = bytes_equal(lo, hi, ' ') & inside;
  std::uint32_t digits = (digit_bytes(lo) | digit_bytes(hi) << 16) & inside;
  // Four or five spaces, for five or six fields.
  std::uint32_t rest = spaces;
  int s[5];
  for (int &at : s) {
    at = rest != 0 ? __builtin_ctz(rest) : text;
    rest &= rest - 1;
  }
  if (rest != 0 || s[3] == text) {
    return 0;
  }
  int fields = s[4] == text ? 5 : 6;
  int s1 = s[0], s2 = s[1], s3 = s[2], s4 = s[3], s5 = s[4];
  // One letter between the second and third spaces and between the third
  // and fourth; every other byte a digit, and each number 1 to 8 digits.
  std::uint32_t letters = 1u << (s2 + 1) | 1u << (s3 + 1);
  if (s3 != s2 + 2 || s4 != s3 + 2 || digits != (inside & ~spaces & ~letters)) {
    return 0;
  }
  int len1 = s1, len2 = s2 - s1 - 1, len5 = s5 - s4 - 1, len6 = text - s5 - 1;
  if (len1 < 1 || len1 > 8 || len2 < 1 || len2 > 8 || len5 < 1 || len5 > 8 ||
      (fields == 6 && (len6 < 1 || len6 > 8))) {
    return 0;
  }
  char chan = p[s2 + 1], kind = p[s3 + 1];
  if (chan < 'a' || chan > 'p' || (kind != 'P' && kind != 'D')) {
    return 0;
  }
  std::uint64_t vel = fields == 6 ? number_at(p + s5 + 1, len6) : 0;
  *e = make_event(number_at(p, len1), number_at(p + s1 + 1, len2), chan, kind,
                  number_at(p + s4 + 1, len5), fields == 6, vel, false);
  return static_cast<std::size_t>(end) + 1;
}
#else
static inline std::size_t scan_plain(const char *, event *) {
  return 0;
}
#endif

// The next line's meaning; returns 0, or -1 or -2 when there is no next line.
static int next_line(std::FILE *in, event *e) {
  for (;;) {
    const char *line = buf + pos;
    std::size_t used = scan_plain(line, e);
    // A line feed found at len is only the marker: the line is unfinished.
    if (used != 0 && used <= len - pos) {
      pos += used;
      return 0;
    }
    const char *end = line;
    *e = scan_fields(line, &end);
    // The scan stops at the first line feed at the latest.
    const char *lf = *end == '\n' ? end
                                  : static_cast<const char *>(std::memchr(
                                        end, '\n', static_cast<std::size_t>(buf + len + 1 - end)));
    if (lf == buf + len) {
      // No line feed in the data: the line goes on in the next block, or
      // the input has ended, or the line is too long to be one.
      std::size_t rest = len - pos;
      if (ended == input_end::none && rest <= max_line + 1) {
        refill(in);
        continue;
      }
      return ended == input_end::end_of_file && rest == 0 ? -1 : -2;
    }
    // A carriage return before the line feed does not count.
    std::size_t length = static_cast<std::size_t>(lf - line);
    if (length > 0 && lf[-1] == '\r') {
      --length;
    }
    if (length > max_line) {
      return -2;
    }
    pos = static_cast<std::size_t>(lf + 1 - buf);
    return 0;
  }
}

int parse_cmd(std::FILE *in, std::uint32_t *delta, std::uint8_t *status, std::uint8_t *note,
              std::uint8_t *velocity) {
  for (;;) {
    event e;
    if (int rc = next_line(in, &e); rc != 0) {
      return rc;
    }
    // Invalid lines are comments, and earlier events are dropped, silently.
    if (!e.valid || e.time < curtime) {
      continue;
    }
    *delta = e.time - curtime;
    *status = e.status;
    *note = e.note;
    *velocity = e.velocity;
    curtime = e.time;
    return 0;
  }
}
