// The note states. A note's state is where it began to sound, and the last
// skipped line that meant to start it; both are forgotten by the next
// accepted event for that note.
#include "note_checks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

// A drum's note on sounds until it dies away, whatever the state says.
static bool is_drum(const note_states &notes, std::size_t chan) {
  return ((notes.drums >> chan) & 1) != 0;
}

static std::uint16_t note_column(const check_record &r, const char *line) {
  return static_cast<std::uint16_t>(
      field_column(line, r.problem.starts[static_cast<std::size_t>(field::note)]));
}

void note_skipped_on(note_states &notes, const check_record &r, const char *line) {
  note_state &s = notes.at[r.event.status & 0x0F][r.event.note];
  s.skipped_on = r.line;
  s.skipped_column = note_column(r, line);
}

static void report_note(check_kind kind, finding_code code, std::uint64_t line, std::size_t column,
                        const check_record &about, check_report report, void *context) {
  check_record n = record_at(kind, code, severity::note, line, column, column);
  n.related = about.line;
  n.event = about.event;
  report(n, context);
}

// What a stray note off may come from: a skipped note on, or the same note
// sounding on another channel.
static void explain_stray(const note_states &notes, const check_record &r, check_report report,
                          void *context) {
  const note_state &s = notes.at[r.event.status & 0x0F][r.event.note];
  if (s.skipped_on != 0) {
    report_note(check_kind::skipped_note_on, finding_code::stray_note_off, s.skipped_on,
                s.skipped_column, r, report, context);
  }
  for (std::size_t chan = 0; chan < notes.at.size(); ++chan) {
    const note_state &o = notes.at[chan][r.event.note];
    if (o.began != 0 && !is_drum(notes, chan)) {
      check_record other = r;
      other.event.status = static_cast<std::uint8_t>(0x90 | chan);
      report_note(check_kind::sounding_elsewhere, finding_code::stray_note_off, o.began, o.column,
                  other, report, context);
    }
  }
}

// The record is copied only for a finding, which few events have.
void check_note(note_states &notes, const check_record &event, const char *line,
                check_report report, void *context) {
  note_state &s = notes.at[event.event.status & 0x0F][event.event.note];
  bool on = is_note_on(event.event);
  std::uint16_t column = note_column(event, line);
  bool sounding = on && s.began != 0 && !is_drum(notes, event.event.status & 0x0Fu);
  if (sounding || (!on && s.began == 0)) {
    check_record r = event;
    r.column = r.byte_column = column;
    r.level = severity::warning;
    r.kind = sounding ? check_kind::on_sounding : check_kind::off_not_sounding;
    r.code = sounding ? finding_code::already_sounding : finding_code::stray_note_off;
    r.related = sounding ? s.began : 0;
    report(r, context);
    if (sounding) {
      report_note(check_kind::began_here, finding_code::already_sounding, s.began, s.column, r,
                  report, context);
    } else {
      explain_stray(notes, r, report, context);
    }
  }
  s.began = on ? event.line : 0;
  s.skipped_on = 0;
  s.column = column;
}

void report_still_sounding(const note_states &notes, check_report report, void *context) {
  std::vector<check_record> left;
  for (std::size_t chan = 0; chan < notes.at.size(); ++chan) {
    for (std::size_t note = 0; note < notes.at[chan].size(); ++note) {
      const note_state &s = notes.at[chan][note];
      if (s.began != 0 && !is_drum(notes, chan)) {
        check_record &r =
            left.emplace_back(record_at(check_kind::still_sounding, finding_code::still_sounding,
                                        severity::warning, s.began, s.column, s.column));
        r.event.status = static_cast<std::uint8_t>(0x90 | chan);
        r.event.note = static_cast<std::uint8_t>(note);
      }
    }
  }
  std::sort(left.begin(), left.end(),
            [](const check_record &a, const check_record &b) { return a.line < b.line; });
  for (const check_record &r : left) {
    report(r, context);
  }
}
