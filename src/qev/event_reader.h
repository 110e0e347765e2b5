// Event input: reads a QEV event file and returns its accepted events one at
// a time, each with its delta from the last.
#ifndef QEV2MID_EVENT_READER_H
#define QEV2MID_EVENT_READER_H

#include "event_fields.h"
#include "text_input.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Time in milliseconds of the last accepted event.
extern std::uint32_t curtime;

// Stores the next accepted event and returns 0; returns -1 at the end of the
// input and -2 on a read error (a failed read, a line of 999 or more
// characters, a line holding a NUL, or a last line without a line feed).
// Once it has returned something other than 0 it must not be called again.
int parse_cmd(std::FILE *in, std::uint32_t *delta, std::uint8_t *status, std::uint8_t *note,
              std::uint8_t *velocity);

// The same for a caller that takes events many at a time: points *events at
// the next *count accepted events (at least one), with their absolute times,
// and sets curtime to the last one's. They stay valid until the reader is
// called again.
int next_events(std::FILE *in, const timed_event **events, std::size_t *count);

// Sets the converter's process-wide state as a process starts: curtime, the
// reader's buffered input, nbytes and hdr. qev2mid converts once per
// process and never needs it; the web page, which converts again after
// every edit, and the tests and the fuzz target, which convert many files,
// call it before each conversion.
void convert_restart();

#endif
