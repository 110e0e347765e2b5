#include "event_reader.h"

#include <array>
#include <cstring>

// The scan for plain lines needs SSE2 and 64-bit general registers; other
// targets read every line with the byte-wise scan.
#if defined(__SSE2__) && defined(__x86_64__)
#define QEV2MID_PLAIN_SCAN 1
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

// buf[pos, len) is read but not yet consumed. Once a block has been read,
// buf[len] is a line feed, so that a scan stops at the end of the data
// without testing for it; before that, the data is empty. In
// front of the data there is room for an unfinished line carried over from
// the last block, and spare bytes, never a carriage return, so that the
// plain-line scan can read up to 8 bytes before a line. Behind it there is
// room for that scan to read up to 64 bytes past where it stands.
static constexpr std::size_t spare = 8;
static constexpr std::size_t lookahead = 64;
static char storage[spare + max_line + 2 + read_block_size + 1 + lookahead];
static char *const buf = storage + spare;
static std::size_t pos = 0;
static std::size_t len = 0;
static input_end ended = input_end::none;

// Plain lines are scanned ahead in a tight loop, and their events wait
// here, each with its absolute time, for parse_cmd to hand them out.
struct queued {
  std::uint32_t time;
  std::uint8_t status, note, velocity;
};
static std::array<queued, 256> queue;
static std::size_t queue_head = 0;
static std::size_t queue_tail = 0;

void reader_restart() {
  curtime = 0;
  queue_head = queue_tail = 0;
  pos = len = 0;
  ended = input_end::none;
}

// Moves the unfinished line to the front and reads the next block behind it.
static void refill(std::FILE *in) {
  std::size_t rest = len - pos;
  std::memmove(buf, buf + pos, rest);
  pos = 0;
  std::size_t got = std::fread(buf + rest, 1, read_block_size, in);
  if (got < read_block_size) {
    ended = std::ferror(in) ? input_end::read_error : input_end::end_of_file;
  }
  len = rest + got;
  buf[len] = '\n';
}

// Data stops at the first NUL or 0x1A, whichever comes first: nothing after
// either can be part of a good line. Plain lines hold neither, so the data
// is searched only where other lines lie: this cuts it at the first of them
// in [from, to) and says whether there was one.
static bool cut_at_mark(const char *from, const char *to) {
  auto n = static_cast<std::size_t>(to - from);
  const auto *nul = static_cast<const char *>(std::memchr(from, '\0', n));
  if (nul != nullptr) {
    n = static_cast<std::size_t>(nul - from);
  }
  const auto *mark = static_cast<const char *>(std::memchr(from, eof_mark, n));
  if (mark == nullptr && nul == nullptr) {
    return false;
  }
  len = static_cast<std::size_t>((mark != nullptr ? mark : nul) - buf);
  buf[len] = '\n';
  ended = mark != nullptr ? input_end::end_of_file : input_end::nul;
  return true;
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

// Converts an unsigned decimal number as %lu does: an optional sign, then
// one or more digits. Returns null when no digit follows. A number with a
// minus sign, or above 32 bits, sets *bad: rather than wrap into a value
// that was never written, the line is refused.
static inline const char *scan_number(const char *p, std::uint64_t *value, bool *bad) {
  bool minus = *p == '-';
  if (minus || *p == '+') {
    ++p;
  }
  auto digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0');
  if (digit > 9) {
    return nullptr;
  }
  std::uint64_t v = 0;
  do {
    // Past 32 bits the value only has to stay too large.
    if (v <= 0xFFFFFFFF) {
      v = v * 10 + digit;
    }
    digit = static_cast<unsigned>(static_cast<unsigned char>(*++p) - '0');
  } while (digit <= 9);
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

// The fields of "%lu %lu %c %c %lu %lu", scanned as sscanf does, from a
// line that ends in its only line feed.
static event scan_fields(const char *p) {
  event none{false, 0, 0, 0, 0};
  std::uint64_t sec = 0, ms = 0, key = 0, vel = 0;
  bool bad = false;
  if ((p = scan_number(skip_blanks(p), &sec, &bad)) == nullptr ||
      (p = scan_number(skip_blanks(p), &ms, &bad)) == nullptr) {
    return none;
  }
  p = skip_blanks(p);
  char chan = *p;
  if (chan == '\n') {
    return none;
  }
  p = skip_blanks(p + 1);
  char kind = *p;
  if (kind == '\n') {
    return none;
  }
  if ((p = scan_number(skip_blanks(p + 1), &key, &bad)) == nullptr) {
    return none;
  }
  // The velocity may be left out after "D", and is then 0.
  bool has_vel = scan_number(skip_blanks(p), &vel, &bad) != nullptr;
  return make_event(sec, ms, chan, kind, key, has_vel, vel, bad);
}

bool scan_line(const char *line, std::uint32_t *time, std::uint8_t *status, std::uint8_t *note,
               std::uint8_t *velocity) {
  event e = scan_fields(line);
  *time = e.time;
  *status = e.status;
  *note = e.note;
  *velocity = e.velocity;
  return e.valid;
}

#if defined(QEV2MID_PLAIN_SCAN)
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

static inline std::uint32_t mask32(__m128i lo, __m128i hi) {
  return static_cast<std::uint32_t>(_mm_movemask_epi8(lo)) |
         static_cast<std::uint32_t>(_mm_movemask_epi8(hi)) << 16;
}

// Bytes '0' to '9' become -128 to -119 when shifted by 0x50, the only values
// below -118 as signed bytes.
static inline __m128i digit_bytes(__m128i v) {
  return _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(0x50)), _mm_set1_epi8(-118));
}

static inline std::uint32_t load32(const char *p) {
  std::uint32_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
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

// Plain lines are scanned here, many in a row, from masks of 32 bytes at a
// time with no loop over their bytes; for them the result equals the full
// scan's. The events go to the queue under the skip rules. Stops at the
// first line of another form, or not complete in the data, or when the
// queue is full.
static void scan_ahead() {
  const __m128i sp = _mm_set1_epi8(' ');
  std::uint32_t last = curtime;
  const char *p = buf + pos;
  const char *limit = buf + len;
  // Line feeds are found 64 bytes at a time ahead of the lines, so that no
  // line waits for the one before it to be taken apart.
  const char *chunk = p;
  std::uint64_t feeds = line_feeds(chunk);
  std::size_t n = 0;
  while (n < queue.size()) {
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
    __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
    std::uint32_t spaces = mask32(_mm_cmpeq_epi8(lo, sp), _mm_cmpeq_epi8(hi, sp));
    std::uint32_t digits = mask32(digit_bytes(lo), digit_bytes(hi));
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
    // The seconds in the low half, the milliseconds and the note in the
    // high half, loaded so that each ends where its field does (at worst 7
    // bytes before p); digits become pairs, then pairs of pairs, all at once.
    int s1 = __builtin_ctz(spaces);
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
    std::uint32_t time = static_cast<std::uint32_t>(sec) * 10000 * 1000 +
                         static_cast<std::uint32_t>(sec >> 32) * 1000 +
                         static_cast<std::uint32_t>(ms_note);
    auto key = static_cast<std::uint32_t>(ms_note >> 32);
    std::uint32_t v = load32(p + text - 4) & l.velocity_digits;
    v = (v * 10 + (v >> 8)) & 0x00FF00FF;
    v = (v * 100 + (v >> 16)) & 0xFFFF;
    // make_event's rules, kept free of branches here: data bytes below 128,
    // then no going back.
    bool accept = ((key | v) < 128) & (time >= last);
    // "P" has the bit 0x10 that "D" lacks, which is what tells a note on
    // from a note off.
    queue[n] = {time, static_cast<std::uint8_t>(0x80 | (kind & 0x10) | (chan - 'a')),
                static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(v)};
    last = accept ? time : last;
    n += accept;
    p = lf + 1;
  }
  queue_head = 0;
  queue_tail = n;
  pos = static_cast<std::size_t>(p - buf);
}
#else
static void scan_ahead() {
  queue_head = queue_tail = 0;
}
#endif

// Reads the line at buf[pos] with the full scan, refilling the buffer as
// needed. Returns 0, or -1 or -2 when there is no next line.
static int full_line(std::FILE *in, event *e) {
  for (;;) {
    const char *line = buf + pos;
    // At buf + len at the latest.
    const auto *lf =
        pos == len ? buf + len : static_cast<const char *>(std::memchr(line, '\n', len + 1 - pos));
    if (cut_at_mark(line, lf)) {
      continue;
    }
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
    *e = scan_fields(line);
    pos = static_cast<std::size_t>(lf + 1 - buf);
    return 0;
  }
}

// Refills the queue from plain lines, or with the next accepted line of
// another form; returns 0, or -1 or -2 when no event is left. It writes
// nothing of the caller's, so that the caller's values can stay in
// registers.
[[gnu::noinline]] static int refill_queue(std::FILE *in) {
  for (;;) {
    scan_ahead();
    if (queue_tail > 0) {
      return 0;
    }
    event e;
    if (int rc = full_line(in, &e); rc != 0) {
      return rc;
    }
    // Invalid lines are comments, and earlier events are dropped, silently.
    if (e.valid && e.time >= curtime) {
      queue[0] = {e.time, e.status, e.note, e.velocity};
      queue_tail = 1;
      return 0;
    }
  }
}

int parse_cmd(std::FILE *in, std::uint32_t *delta, std::uint8_t *status, std::uint8_t *note,
              std::uint8_t *velocity) {
  if (queue_head == queue_tail) {
    if (int rc = refill_queue(in); rc != 0) {
      return rc;
    }
  }
  // Queued events passed the skip rules in order: each is due as it stands.
  const queued &q = queue[queue_head++];
  *delta = q.time - curtime;
  *status = q.status;
  *note = q.note;
  *velocity = q.velocity;
  curtime = q.time;
  return 0;
}
