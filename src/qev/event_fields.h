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

// The status, note and velocity side by side, as a MIDI track has them, so
// that a writer can copy the three at once.
inline const std::uint8_t *event_bytes(const timed_event *e) {
  static_assert(offsetof(timed_event, note) == offsetof(timed_event, status) + 1 &&
                offsetof(timed_event, velocity) == offsetof(timed_event, status) + 2);
  return reinterpret_cast<const std::uint8_t *>(e) + offsetof(timed_event, status);
}

// The largest number a field holds, and the largest time in milliseconds.
inline constexpr std::uint64_t max_number = 0xFFFFFFFF;

// Data bytes stop at 127: a byte of 128 or more is a status byte to every
// MIDI reader, and the file would fall out of step.
inline constexpr std::uint64_t max_data = 127;

// The skip rule: an event earlier than the last accepted one is dropped, for
// the time never goes back in a track.
inline constexpr bool in_order(std::uint32_t time, std::uint32_t last) {
  return time >= last;
}

// The fields, in the order they stand on a line.
enum class field { seconds, milliseconds, channel, kind, note, velocity };
inline constexpr std::size_t field_count = 6;

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
//
// The rest is filled on every line, event or not, as far as the scan got:
// where each field starts (null where it was not reached), and the first
// number followed directly by a character other than white space, the line
// feed or, after the milliseconds, a channel letter: text glued to it, which
// the rules stop reading at.
struct field_problem {
  field_fault fault;
  field where;
  const char *value;
  std::size_t length;
  std::size_t column;
  std::uint64_t number;
  const char *starts[field_count];
  const char *glued;
  field glued_to;
};

// Turns one line, which ends in its only line feed, into an event. Returns
// false when the line is not one.
bool scan_line(const char *line, timed_event *e);

// The same, with the same rules, and with the reason when the line is not
// an event; the status and the note are set as soon as they are read, so
// that a line that fails at its velocity still tells which note it meant.
// Slower: for explaining, not for converting.
bool explain_line(const char *line, timed_event *e, field_problem *why);

#endif
