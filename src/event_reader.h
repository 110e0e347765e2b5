// Event input: reads a QEV event file and returns its events one at a time.
#ifndef QEV2MID_EVENT_READER_H
#define QEV2MID_EVENT_READER_H

#include <cstdint>
#include <cstdio>

// Time in milliseconds of the last accepted event.
extern std::uint32_t curtime;

// Stores the next accepted event and returns 0; returns -1 at the end of the
// input and -2 on a read error (a failed read, a line of 999 or more
// characters, a line holding a NUL, or a last line without a line feed).
int parse_cmd(std::FILE *in, std::uint32_t *delta, std::uint8_t *status, std::uint8_t *note,
              std::uint8_t *velocity);

// Turns one line, which ends in its only line feed, into an event with its
// absolute time. Returns false when the line is not a valid event.
bool scan_line(const char *line, std::uint32_t *time, std::uint8_t *status, std::uint8_t *note,
               std::uint8_t *velocity);

#endif
