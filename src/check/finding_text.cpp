// Findings in words. Each message names what stands in the line (the
// character itself, and its code point where it is not plain ASCII), the
// note by number and name, and adds a hint only where the fix is clear.
// Numbers come from the rules' own constants, so the words cannot drift
// from what the converter does.
#include "finding_text.h"

#include "field_words.h"
#include "qev/characters.h"
#include "text_out.h"

#include <cstring>

static char *put_note(char *out, const timed_event &e) {
  char name[8];
  note_name(e.note, name);
  out = put_decimal(put(out, "note "), e.note);
  out = put(put(put(out, " ("), name), ") on channel ");
  *out++ = static_cast<char>('a' + (e.status & 0x0F));
  return out;
}

static char *put_stop(char *out, const check_record &r) {
  switch (r.fault) {
  case input_fault::too_long:
    return put(put_decimal(put(out, "the line is longer than "), max_line), " characters");
  case input_fault::nul:
    return put(out, "a NUL byte, which is not text, stops the conversion here");
  case input_fault::mark_in_line:
    return put(out, "byte 0x1A, the old end-of-file mark, ends the input inside this line");
  case input_fault::no_line_feed:
    return put(out, "the last line has no line feed; end the file with a new line");
  default:
    return put(put(out, "cannot read the file: "), std::strerror(r.error));
  }
}

const char *severity_name(severity level) {
  return level == severity::error ? "error" : level == severity::warning ? "warning" : "note";
}

std::size_t finding_message(const check_record &r, char *message) {
  char *out = message;
  switch (r.kind) {
  case check_kind::accepted:
    break;
  case check_kind::skipped:
    out = put_skipped(out, r);
    break;
  case check_kind::earlier:
    out = put_seconds(put(out, "line skipped: "), r.event.time);
    out = put_seconds(put(out, " is earlier than "), r.last_time);
    out = put_decimal(put(out, " on line "), r.related);
    break;
  case check_kind::hidden_by_bom:
    out = put(out, r.line == 1 ? "line skipped: a byte-order mark (U+FEFF) at the start of the "
                                 "file hides this event; save the file without one"
                               : "line skipped: a byte-order mark (U+FEFF) at the start of this "
                                 "line hides its event; were two files joined here?");
    break;
  case check_kind::glued:
    out = put_glued(out, r.problem, true);
    break;
  case check_kind::off_not_sounding:
    out = put(put_note(put(out, "note off for "), r.event), ", which is not sounding");
    break;
  case check_kind::on_sounding:
    out = put(put_note(put(out, "note on for "), r.event), ", which is already sounding");
    break;
  case check_kind::still_sounding:
    out = put(put_note(out, r.event), " is still sounding at the end of the file");
    break;
  case check_kind::cannot_convert:
    out = put_stop(out, r);
    break;
  case check_kind::midi_file:
    out = put(out, "this is a Standard MIDI File, not QEV text; mid2qev converts it to QEV");
    break;
  case check_kind::utf_16:
    out = put(out, "this file is UTF-16 text; save it as UTF-8 or as plain text");
    break;
  case check_kind::cr_line_ends:
    out = put(out, "the lines end in carriage returns only, as old Macs wrote them, so the "
                   "file reads as one line; save it with line feeds");
    break;
  case check_kind::after_mark:
    out = put_decimal(put(out, "byte 0x1A, the old end-of-file mark, ends the input here; "),
                      r.count);
    out = put(out, r.count == 1 ? " byte after it is ignored" : " bytes after it are ignored");
    break;
  case check_kind::run_of_earlier:
    out = put_decimal(out, r.count);
    out = put_decimal(put(out, r.count == 1 ? " more out-of-order line follows, to line "
                                            : " more out-of-order lines follow, to line "),
                      r.related);
    out = put(out, "; a voice that starts again at 0 s? Interleave the voices by time");
    break;
  case check_kind::skipped_note_on:
    out = put(put_note(put(out, "the note on for "), r.event), " was skipped here");
    break;
  case check_kind::began_here:
    out = put(put_note(out, r.event), " began to sound here");
    break;
  case check_kind::sounding_elsewhere:
    out = put(put_note(out, r.event), " sounds from here; is the note off on the wrong channel?");
    break;
  }
  *out = '\0';
  return static_cast<std::size_t>(out - message);
}
