// The checking pass behind qevcheck: reads a QEV file with the converter's
// own text input and field rules, and hands each accepted event and each
// finding to the caller as a record: the lines the converter skips or stops
// at, the notes that will not sound as written, and the notes that tie a
// finding to the line that caused it.
#ifndef QEV2MID_CHECK_PASS_H
#define QEV2MID_CHECK_PASS_H

#include "qev/event_fields.h"
#include "qev/text_input.h"

#include <array>
#include <cstdint>
#include <cstdio>

// error: the converter stops here. warning: a line it skips, or a note that
// will not sound as written. note: a remark, or a line tied to a finding.
enum class severity : std::uint8_t { error, warning, note };

// The kinds of finding, one row each: its name here and its stable code
// name, which scripts and editors may rely on. A note has the code of the
// finding it belongs to. A new finding is a row here, its words
// (finding_text.cpp), its entry in qevcheck.1, which a test holds to this
// list, and its test.
#define QEV2MID_FINDING_CODES(X)                                                                   \
  X(none, "") /* an accepted event, no finding */                                                  \
  X(missing_field, "missing-field")                                                                \
  X(not_a_number, "not-a-number")                                                                  \
  X(glued_text, "glued-text")                                                                      \
  X(bad_channel, "bad-channel")                                                                    \
  X(bad_kind, "bad-kind")                                                                          \
  X(minus_sign, "minus-sign")                                                                      \
  X(number_too_large, "number-too-large")                                                          \
  X(above_127, "above-127")                                                                        \
  X(time_too_late, "time-too-late")                                                                \
  X(out_of_order, "out-of-order")                                                                  \
  X(byte_order_mark, "byte-order-mark")                                                            \
  X(stray_note_off, "stray-note-off")                                                              \
  X(already_sounding, "already-sounding")                                                          \
  X(still_sounding, "still-sounding")                                                              \
  X(line_too_long, "line-too-long")                                                                \
  X(nul_byte, "nul-byte")                                                                          \
  X(end_mark_in_line, "end-mark-in-line")                                                          \
  X(no_final_line_feed, "no-final-line-feed")                                                      \
  X(read_error, "read-error")                                                                      \
  X(midi_file, "midi-file")                                                                        \
  X(utf_16, "utf-16")                                                                              \
  X(cr_line_ends, "cr-line-ends")                                                                  \
  X(end_mark, "end-mark")

#define QEV2MID_CODE_ID(id, name) id,
enum class finding_code : std::uint8_t { QEV2MID_FINDING_CODES(QEV2MID_CODE_ID) };
#undef QEV2MID_CODE_ID

#define QEV2MID_CODE_NAME(id, name) name,
inline constexpr std::array code_names = {QEV2MID_FINDING_CODES(QEV2MID_CODE_NAME)};
#undef QEV2MID_CODE_NAME

// What a record says, which decides its words, one row each: its name, and
// for the page's roll whether the record has a time of its own (otherwise
// it is placed at the last accepted event's) and whether it is about one
// note, which the roll then marks.
#define QEV2MID_CHECK_KINDS(X)                                                                     \
  X(accepted, false, false)        /* an event the converter writes (not a finding) */             \
  X(skipped, false, false)         /* a line meant as an event that is not one: problem */         \
  X(earlier, true, false)          /* earlier than the last accepted event: last_time, related */  \
  X(hidden_by_bom, false, false)   /* a byte-order mark turns the line's event into a comment */   \
  X(glued, false, false)           /* an event read up to text glued to a number: problem */       \
  X(off_not_sounding, true, true)  /* a note off for a note that is not sounding */                \
  X(on_sounding, true, true)       /* a note on for a note sounding since related */               \
  X(still_sounding, false, true)   /* a note that began on this line still sounds at the end */    \
  X(cannot_convert, false, false)  /* the converter stops here: fault, error */                    \
  X(midi_file, false, false)       /* the file is a Standard MIDI File, not QEV text */            \
  X(utf_16, false, false)          /* the file is UTF-16 text */                                   \
  X(cr_line_ends, false, false)    /* lines end in a CR alone, so the file reads as one line */    \
  X(after_mark, false, false)      /* a 0x1A ends the input, count bytes not padding follow */     \
  X(run_of_earlier, false, false)  /* note: a run of out-of-order lines; count more, to related */ \
  X(skipped_note_on, false, false) /* note: the skipped line that meant the stray's note on */     \
  X(began_here, false, false)      /* note: where the already sounding note began */               \
  X(sounding_elsewhere, false, false) /* note: the stray note off's note, on another channel */

#define QEV2MID_KIND_ID(id, own_time, about_note) id,
enum class check_kind : std::uint8_t { QEV2MID_CHECK_KINDS(QEV2MID_KIND_ID) };
#undef QEV2MID_KIND_ID

struct kind_facts {
  bool own_time, about_note;
};
#define QEV2MID_KIND_FACTS(id, own_time, about_note) kind_facts{own_time, about_note},
inline constexpr std::array check_kinds = {QEV2MID_CHECK_KINDS(QEV2MID_KIND_FACTS)};
#undef QEV2MID_KIND_FACTS

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
  // The text of the record's own line, up to its line feed (or the end of
  // the data at a stop), and its offset in the file, for a repair to edit;
  // text is null where the record stands on another line than the one read.
  const char *text;
  std::uint64_t offset;
};

// The channels whose notes end by themselves, as drums do: a note on with
// no note off is no finding there, but a stray note off still is. Bit n is
// channel n; channel j (9), General MIDI's percussion channel, by default.
inline constexpr std::uint16_t default_drums = 1 << 9;

// What the caller does with each record, in the order of the file; a note
// comes right after the finding it belongs to, except a run's, which comes
// when the run ends. Notes still sounding come last, in line order.
using check_report = void (*)(const check_record &record, void *context);

// Checks the stream from its start, with drums as the drum channels.
// Returns 0 when the converter would convert it, -2 when its content (or a
// failed read) stops the converter; no note is checked past that. Each check
// keeps its state to itself, so that a report may start another.
int check_stream(std::FILE *in, std::uint16_t drums, check_report report, void *context);

// The same for a file's bytes in memory.
int check_bytes(const char *data, std::size_t size, std::uint16_t drums, check_report report,
                void *context);

#endif
