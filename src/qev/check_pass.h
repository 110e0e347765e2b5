// The checking pass behind qevcheck: reads a QEV file with the converter's
// own text input and field rules, and hands each accepted event and each
// finding to the caller as a record: the lines the converter skips or stops
// at, the notes that will not sound as written, and the notes that tie a
// finding to the line that caused it.
#ifndef QEV2MID_CHECK_PASS_H
#define QEV2MID_CHECK_PASS_H

#include "event_fields.h"
#include "text_input.h"

#include <array>
#include <cstdint>
#include <cstdio>

// error: the converter stops here. warning: a line it skips, or a note that
// will not sound as written. note: a remark, or a line tied to a finding.
enum class severity : std::uint8_t { error, warning, note };

// The kinds of finding, each with a stable name (code_names) that scripts
// and editors may rely on. A note has the code of the finding it belongs to.
enum class finding_code : std::uint8_t {
  none, // an accepted event, no finding
  missing_field,
  not_a_number,
  glued_text,
  bad_channel,
  bad_kind,
  minus_sign,
  number_too_large,
  above_127,
  time_too_late,
  out_of_order,
  byte_order_mark,
  stray_note_off,
  already_sounding,
  still_sounding,
  line_too_long,
  nul_byte,
  end_mark_in_line,
  no_final_line_feed,
  read_error,
  midi_file,
  utf_16,
  end_mark,
};

inline constexpr std::array<const char *, 23> code_names = {
    "",
    "missing-field",
    "not-a-number",
    "glued-text",
    "bad-channel",
    "bad-kind",
    "minus-sign",
    "number-too-large",
    "above-127",
    "time-too-late",
    "out-of-order",
    "byte-order-mark",
    "stray-note-off",
    "already-sounding",
    "still-sounding",
    "line-too-long",
    "nul-byte",
    "end-mark-in-line",
    "no-final-line-feed",
    "read-error",
    "midi-file",
    "utf-16",
    "end-mark",
};

// What a record says, which decides its words.
enum class check_kind : std::uint8_t {
  accepted,           // an event the converter writes (not a finding)
  skipped,            // a line meant as an event that is not one: problem
  earlier,            // an event earlier than the last accepted one: last_time, related
  hidden_by_bom,      // a byte-order mark turns the line's event into a comment
  glued,              // an event read up to text glued to a number: problem
  off_not_sounding,   // a note off for a note that is not sounding
  on_sounding,        // a note on for a note that is sounding since related
  still_sounding,     // a note that began on this line still sounds at the end
  cannot_convert,     // the converter stops here: fault, error
  midi_file,          // the file is a Standard MIDI File, not QEV text
  utf_16,             // the file is UTF-16 text
  after_mark,         // a 0x1A ends the input, and count bytes that are not padding follow
  run_of_earlier,     // note: this out-of-order line starts a run; count more follow, to related
  skipped_note_on,    // note: the skipped line that meant the stray note off's note on
  began_here,         // note: where the already sounding note began
  sounding_elsewhere, // note: the stray note off's note, sounding on another channel
};

// One finding, or one accepted event. Lines count from 1, columns from 1 in
// characters (UTF-8, an invalid byte and a tab counting one each) and in
// bytes; all three are 0 where no line is at fault (a failed read). The
// line's text that problem points into lives only during the report.
struct check_record {
  check_kind kind;
  finding_code code;
  severity level;
  std::uint64_t line;
  std::size_t column;
  std::size_t byte_column;
  std::uint64_t related; // the line a finding or a note points to; 0 for none
  timed_event event;     // the line's event, or the note the finding is about
  field_problem problem;
  std::uint32_t last_time;
  input_fault fault;
  int error;
  std::uint64_t count;
};

// The channels whose notes end by themselves, as drums do: a note on with
// no note off is no finding there, but a stray note off still is. Bit n is
// channel n; channel j (9), General MIDI's percussion channel, by default.
extern std::uint16_t drum_channels;

// The drum channels as letters name them, "jk", or "none": the one form
// qevcheck's --drums and the web page take. False, with *mask untouched,
// for anything else.
bool parse_drums(const char *letters, std::uint16_t *mask);

// What the caller does with each record, in the order of the file; a note
// comes right after the finding it belongs to, except a run's, which comes
// when the run ends. Notes still sounding come last, in line order.
using check_report = void (*)(const check_record &record, void *context);

// Checks the stream from its start. Returns 0 when the converter would
// convert it, -2 when its content (or a failed read) stops the converter;
// no note is checked past that.
int check_stream(std::FILE *in, check_report report, void *context);

#endif
