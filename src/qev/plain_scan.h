// The plain-line scan: an accelerator for the lines that programs write.
// Removing it would change nothing but speed: every line it does not take
// falls through to the field rules (event_fields.h), which decide alone. A
// rule that widens what is accepted needs a change there only; a rule that
// narrows it must be mirrored here, and the differential tests are the guard.
#ifndef QEV2MID_PLAIN_SCAN_H
#define QEV2MID_PLAIN_SCAN_H

#include "event_fields.h"

#include <cstddef>
#include <cstdint>

// Which scan is built, by CMake's QEV2MID_SCAN: with SSE2 on x86-64, with
// 64-bit words elsewhere (ARM, WebAssembly), or none, when every line takes
// the field rules. Left unsaid, the target decides.
#if !defined(QEV2MID_SCAN_SSE2) && !defined(QEV2MID_SCAN_SWAR) && !defined(QEV2MID_SCAN_NONE)
#if defined(__SSE2__) && defined(__x86_64__)
#define QEV2MID_SCAN_SSE2 1
#elif defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define QEV2MID_SCAN_SWAR 1
#else
#define QEV2MID_SCAN_NONE 1
#endif
#endif

// Takes the plain lines that stand in a row from *p, which starts a line,
// and advances *p past them. A plain line has unsigned numbers without sign
// of 1 to 6 digits for the seconds and 1 to 4 for the others, single spaces,
// and at most a carriage return before its line feed. It is taken only when
// the field rules give the same event for it, with its note and velocity
// below 128.
//
// Each line's event goes to out, unless it is earlier than last or than the
// event before it: the skip rules drop such a line, and so the scan passes
// over it. A file written voice by voice is mostly such lines. Stops
// before the first line of another form, or that the rules would drop for
// another reason, or that does not end before limit, or when room events
// are out. Returns how many events it took; *p tells how far it read.
//
// What it may read: the 8 bytes before *p, of which the last is a line feed
// or another byte that is not a carriage return; and everything up to 64
// bytes past limit, where a line feed must stand.
std::size_t scan_plain(const char **p, const char *limit, std::uint32_t last, timed_event *out,
                       std::size_t room);

// Where a plain line's note starts, and its length with its line feed.
struct plain_line {
  std::uint8_t note, length;
};

// The same, with each line's plain_line in lines, for a caller that must
// point at the line's note. It stops before a line the skip rules drop, so
// that the caller can say why: every line it takes is an event.
std::size_t scan_plain_lines(const char **p, const char *limit, std::uint32_t last,
                             timed_event *out, plain_line *lines, std::size_t room);

// When to try the scan. Lines that are not plain come in runs, so after it
// takes no line, the next lines go straight to the field rules: one at first,
// twice as many each time it fails again, at most 64, until it takes one.
struct plain_pace {
  std::uint32_t pause = 0, next = 1;
};

// Whether to try the scan before the next line; if not, that line counts
// towards the pause.
inline bool plain_due(plain_pace &pace) {
  if (pace.pause == 0) {
    return true;
  }
  --pace.pause;
  return false;
}

// Tells the pace whether a try took a line.
inline void plain_tried(plain_pace &pace, bool took) {
  if (took) {
    pace.next = 1;
  } else {
    pace.pause = pace.next;
    pace.next = pace.next < 64 ? pace.next * 2 : 64;
  }
}

#endif
