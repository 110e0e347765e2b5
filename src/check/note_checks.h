// The notes behind the checking pass: one state per channel and note, to
// find the notes that will not sound as written among the accepted events,
// and the line behind each: a skipped note on, or the same note sounding on
// another channel.
#ifndef QEV2MID_NOTE_CHECKS_H
#define QEV2MID_NOTE_CHECKS_H

#include "check_pass.h"

// A finding at a line and column, in characters and in bytes.
inline check_record record_at(check_kind kind, finding_code code, severity level,
                              std::uint64_t line, std::size_t column, std::size_t byte_column) {
  check_record r{};
  r.kind = kind;
  r.code = code;
  r.level = level;
  r.line = line;
  r.column = column;
  r.byte_column = byte_column;
  return r;
}

// The column of a field, or of the first character that breaks one, in a
// line. All that stands before it are fields and blanks, which are ASCII,
// so the column in characters is the one in bytes.
inline std::size_t field_column(const char *line, const char *at) {
  return static_cast<std::size_t>(at - line) + 1;
}

// Note on with velocity 0 is a note off, as in MIDI.
inline bool is_note_on(const timed_event &e) {
  return (e.status & 0xF0) == 0x90 && e.velocity != 0;
}

// A note's state: the line where it began to sound, and the last skipped
// line that meant to start it, both forgotten by the next accepted event for
// that note. Lines count from 1: line 0 is none. Columns fit 16 bits, for a
// line holds at most max_line characters.
struct note_state {
  std::uint64_t began, skipped_on;
  std::uint16_t column, skipped_column;
};

// The notes of one check, all silent as it starts, and the channels that are
// drums there.
struct note_states {
  std::array<std::array<note_state, 128>, 16> at{};
  std::uint16_t drums = default_drums;
};

// Remembers a skipped line that meant to start r's note, for a stray note
// off to point at; r.problem tells where its note stands.
void note_skipped_on(note_states &notes, const check_record &r, const char *line);

// The findings about the note of r, an accepted event, each with its note.
void check_note(note_states &notes, const check_record &r, const char *line, check_report report,
                void *context);

// A finding for each note still sounding, in the order of their lines.
void report_still_sounding(const note_states &notes, check_report report, void *context);

#endif
