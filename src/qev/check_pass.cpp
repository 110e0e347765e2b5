// The checking pass: the converter's rules, line by line, with the reason
// for every line it skips or stops at, and one state per channel and note
// to find the notes that will not sound as written.
#include "check_pass.h"

#include <algorithm>
#include <array>
#include <cstring>

// The line on which each channel's note began to sound; 0 while it is silent.
static std::array<std::array<std::uint64_t, 128>, 16> sounding;

// A line whose first field converts as a number is meant as an event; any
// other line is a comment.
static bool meant_as_event(const char *line) {
  timed_event e;
  field_problem why;
  return explain_line(line, &e, &why) ||
         !(why.fault == field_fault::missing && why.where == field::seconds);
}

// A Standard MIDI File, bare or in a RIFF RMID wrapper, by its first bytes;
// the input buffer holds the start of the file while its first line is read.
static bool is_midi(const char *start) {
  return std::memcmp(start, "MThd", 4) == 0 ||
         (std::memcmp(start, "RIFF", 4) == 0 && std::memcmp(start + 8, "RMID", 4) == 0);
}

// Note on with velocity 0 is a note off, as in MIDI.
static void check_note(const check_record &r, check_report report, void *context) {
  std::uint64_t &began = sounding[r.event.status & 0x0F][r.event.note];
  bool on = (r.event.status & 0xF0) == 0x90 && r.event.velocity != 0;
  if (on && began != 0) {
    check_record found = r;
    found.kind = check_kind::on_sounding;
    found.other_line = began;
    report(found, context);
  } else if (!on && began == 0) {
    check_record found = r;
    found.kind = check_kind::off_not_sounding;
    report(found, context);
  }
  began = on ? r.line : 0;
}

static void report_still_sounding(check_report report, void *context) {
  static std::array<check_record, 16 * 128> left;
  std::size_t n = 0;
  for (std::size_t chan = 0; chan < sounding.size(); ++chan) {
    for (std::size_t note = 0; note < sounding[chan].size(); ++note) {
      if (sounding[chan][note] != 0) {
        check_record &r = left[n++];
        r = check_record{};
        r.kind = check_kind::still_sounding;
        r.line = sounding[chan][note];
        r.event.status = static_cast<std::uint8_t>(0x90 | chan);
        r.event.note = static_cast<std::uint8_t>(note);
      }
    }
  }
  std::sort(left.begin(), left.begin() + static_cast<std::ptrdiff_t>(n),
            [](const check_record &a, const check_record &b) { return a.line < b.line; });
  for (std::size_t i = 0; i < n; ++i) {
    report(left[i], context);
  }
}

int check_stream(std::FILE *in, check_report report, void *context) {
  input_restart();
  for (auto &chan : sounding) {
    chan.fill(0);
  }
  std::uint32_t last_time = 0;
  std::uint64_t last_line = 0;
  const char *line = nullptr;
  int rc = 0;
  while ((rc = next_line(in, &line)) == 0) {
    check_record r{};
    r.line = input_line;
    if (!explain_line(line, &r.event, &r.problem)) {
      if (meant_as_event(line)) {
        r.kind = check_kind::skipped;
        report(r, context);
      } else if (input_line == 1 && line[0] == '\xEF' && line[1] == '\xBB' && line[2] == '\xBF' &&
                 meant_as_event(line + 3)) {
        r.kind = check_kind::hidden_by_bom;
        report(r, context);
      }
      continue;
    }
    if (r.event.time < last_time) {
      r.kind = check_kind::earlier;
      r.last_time = last_time;
      r.other_line = last_line;
      report(r, context);
      continue;
    }
    last_time = r.event.time;
    last_line = input_line;
    r.kind = check_kind::accepted;
    report(r, context);
    check_note(r, report, context);
  }
  if (rc == -2) {
    check_record r{};
    r.kind =
        input_line == 1 && is_midi(input_buf) ? check_kind::midi_file : check_kind::cannot_convert;
    r.fault = input_error;
    r.line = input_error == input_fault::read_failed ? 0 : input_line;
    r.column = input_error_column;
    r.error = input_errno;
    report(r, context);
    return -2;
  }
  if (mark_line != 0) {
    check_record r{};
    bool padding = true;
    r.ignored = bytes_after_mark(in, &padding);
    if (!padding) {
      r.kind = check_kind::after_mark;
      r.line = mark_line;
      r.column = mark_column;
      report(r, context);
    }
  }
  report_still_sounding(report, context);
  return 0;
}
