// The plain-line scan: a table of the 480 plain line layouts, and the loop
// that takes lines by their masks (plain_scan_masks.h). See plain_scan.h for
// its contract.
#include "plain_scan.h"

#if defined(QEV2MID_SCAN_SSE2) || defined(QEV2MID_SCAN_SWAR)
#include "plain_scan_masks.h"

#include <array>

// Most lines are written by programs in one plain form: numbers without
// sign of 1 to 6 digits for the seconds and 1 to 4 for the others, single
// spaces, and at most a carriage return before the line feed. Six digits
// of seconds keep every time within 32 bits. There are 480 ways to lay such
// a line out, and the places of its spaces and of the end of its text tell
// them apart. Each layout is looked up from those places by a hash that has
// no collisions among them; the table says where the fields end and holds
// masks (0xFF a byte) that keep just their digits.
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

// The last n (1 to 4) bytes of a four-byte word.
static constexpr std::uint32_t tail_digits(int n) {
  return 0xFFFFFFFFu << 8 * (4 - n);
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
          l.digits = {~std::uint64_t{0} << 8 * (8 - sec),
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

// Lines are taken many in a row, from masks of 32 bytes at a time with no
// loop over their bytes. Lines keeps where each line's note is; Drop takes
// a plain line earlier than the event before it and drops it, as the skip
// rules would.
template <bool Lines, bool Drop>
static inline std::size_t scan(const char **start, const char *limit, std::uint32_t last,
                               timed_event *out, std::size_t room, plain_line *lines) {
  const char *p = *start;
  feed_search feeds = feeds_from(p, limit);
  timed_event *o = out;
  while (o != out + room) {
    const char *lf = nullptr;
    if (!next_feed(feeds, p, limit, &lf)) {
      break;
    }
    // p[-1] is the line feed before the line, or a spare byte: text >= 0.
    auto text = static_cast<int>(lf - p) - (lf[-1] == '\r');
    std::uint32_t inside = (1u << text) - 1;
    std::uint32_t spaces = line_spaces(p, text);
    std::uint32_t delimiters = (spaces & inside) | (inside + 1);
    const layout &l = layouts[layout_slot(delimiters)];
    // Taken from the spaces rather than the layout, so that the line does
    // not wait for the table.
    int s2 = __builtin_ctz((spaces & (spaces - 1)) | 1u << 31);
    char chan = p[s2 + 1], kind = p[s2 + 3];
    // One test of the conditions rather than a branch for each: the spaces
    // where the layout has them, and the channel and the kind valid. The
    // layout's fields take every other byte, which must then be digits.
    bool plain = (l.delimiters == delimiters) & (static_cast<unsigned char>(chan - 'a') < 16) &
                 ((kind == 'D') | (kind == l.kind));
    if (!plain) {
      break;
    }
    std::uint32_t time = 0, key = 0;
    std::uint32_t velocity = digit_values(load32(p + text - 4), l.velocity_digits);
    bool digits = line_numbers(p, __builtin_ctz(spaces), s2, l.note_end, l.digits,
                               non_digits(velocity), &time, &key);
    std::uint32_t v = number4(velocity);
    // The field rules' bounds: data bytes below 128, then no going back. A
    // line that breaks them is left for the field rules to explain.
    if (!digits | ((key | v) >= 128) | !in_order(time, last)) {
      if (!Drop || !digits || (key | v) >= 128) {
        break;
      }
      p = lf + 1;
      continue;
    }
    // "P" has the bit 0x10 that "D" lacks, which is what tells a note on
    // from a note off.
    if constexpr (Lines) {
      lines[o - out] = {static_cast<std::uint8_t>(s2 + 5), static_cast<std::uint8_t>(lf + 1 - p)};
    }
    *o++ = {time, static_cast<std::uint8_t>(0x80 | (kind & 0x10) | (chan - 'a')),
            static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(v)};
    last = time;
    p = lf + 1;
  }
  *start = p;
  return static_cast<std::size_t>(o - out);
}

std::size_t scan_plain(const char **start, const char *limit, std::uint32_t last, timed_event *out,
                       std::size_t room) {
  return scan<false, true>(start, limit, last, out, room, nullptr);
}

std::size_t scan_plain_lines(const char **start, const char *limit, std::uint32_t last,
                             timed_event *out, plain_line *lines, std::size_t room) {
  return scan<true, false>(start, limit, last, out, room, lines);
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
