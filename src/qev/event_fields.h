// The field rules: what one QEV line means, or the first reason, reading
// from left to right, why it is not an event.
#ifndef QEV2MID_EVENT_FIELDS_H
#define QEV2MID_EVENT_FIELDS_H

#include <cstddef>
#include <cstdint>

// An event with its absolute time in milliseconds.
struct timed_event {
  std::uint32_t time;
  std::uint8_t status, note, velocity;
};

// The fields, in the order they stand on a line.
enum class field { seconds, milliseconds, channel, kind, note, velocity };

enum class field_fault {
  missing,       // the field is not there (for the velocity: after "P")
  minus,         // a number with a minus sign
  above_32_bits, // a number above 4294967295
  bad_channel,   // a channel letter outside a to p
  bad_kind,      // a kind letter other than P or D
  above_127,     // a note or velocity above 127
  time_too_late, // seconds and milliseconds above 4294967295 ms together
};

// Why a line is not an event. value and length give the field as written
// (empty where it is missing), column where it starts, counting bytes from 1.
// number is the value that broke a bound: the note, the velocity or the time.
struct field_problem {
  field_fault fault;
  field where;
  const char *value;
  std::size_t length;
  std::size_t column;
  std::uint64_t number;
};

// Turns one line, which ends in its only line feed, into an event. Returns
// false when the line is not one.
bool scan_line(const char *line, timed_event *e);

// The same, with the same rules, and with the reason when the line is not
// an event. Slower: for explaining, not for converting.
bool explain_line(const char *line, timed_event *e, field_problem *why);

#endif
