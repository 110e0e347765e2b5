// The checking pass behind qevcheck: reads a QEV file with the converter's
// own text input and field rules, and hands each accepted event and each
// finding to the caller: the lines the converter skips or stops at, and the
// notes that will not sound as written.
#ifndef QEV2MID_CHECK_PASS_H
#define QEV2MID_CHECK_PASS_H

#include "event_fields.h"
#include "text_input.h"

#include <cstdint>
#include <cstdio>

enum class check_kind {
  accepted,         // an event the converter writes (not a finding)
  skipped,          // a line meant as an event that is not one: problem
  earlier,          // an event earlier than the last accepted one: last_time, other_line
  hidden_by_bom,    // the first line would be an event but for a byte-order mark
  cannot_convert,   // the converter stops here: fault, column, error
  midi_file,        // the file is a Standard MIDI File, not QEV text
  after_mark,       // a 0x1A ends the input, and bytes that are not padding follow: ignored
  off_not_sounding, // a note off for a note that is not sounding
  on_sounding,      // a note on for a note that is sounding since other_line
  still_sounding,   // a note that began on this line still sounds at the end
};

struct check_record {
  check_kind kind;
  std::uint64_t line; // 0 where no line is at fault (a failed read)
  timed_event event;  // the line's event, where it has one
  field_problem problem;
  std::uint32_t last_time;
  std::uint64_t other_line;
  input_fault fault;
  std::size_t column;
  int error;
  std::uint64_t ignored;
};

// What the caller does with each record, in the order of the file; notes
// still sounding come last, in line order.
using check_report = void (*)(const check_record &record, void *context);

// Checks the stream from its start. Returns 0 when the converter would
// convert it, -2 when its content (or a failed read) stops the converter;
// no note is checked past that.
int check_stream(std::FILE *in, check_report report, void *context);

#endif
