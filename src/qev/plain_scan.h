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
// the field rules give the same event for it.
//
// Each line's event goes to out, under the skip rules: an event earlier than
// last or than the event before it is dropped. Stops at the first line of
// another form, or one that does not end before limit, or when room events
// are out. Returns how many are.
//
// What it may read: the 8 bytes before *p, of which the last is a line feed
// or another byte that is not a carriage return; and everything up to 64
// bytes past limit, where a line feed must stand.
std::size_t scan_plain(const char **p, const char *limit, std::uint32_t last, timed_event *out,
                       std::size_t room);

#endif
