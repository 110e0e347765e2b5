// The checking pass: the converter's rules, line by line, with the reason
// for every line it skips or stops at, and the runs of out-of-order lines
// that a voice starting again leaves. The accepted events go on to the note
// checks.
#include "check_pass.h"

#include "note_checks.h"
#include "qev/characters.h"
#include "qev/plain_scan.h"
#include "skip_code.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// A stretch of skipped out-of-order lines, until the next accepted event.
struct run_state {
  std::uint64_t first, last, lines;
  std::size_t column, byte_column;
};

// One check's state, on check_stream's stack: nothing of it outlives the
// check or is shared with another, so that checks may follow or nest.
struct pass_state {
  text_input input;
  note_states notes;
  run_state run{};
  check_report report_to;
  void *context;
  // The plain scan's events and where their lines' fields stand.
  std::array<timed_event, 256> events;
  std::array<plain_line, 256> lines;
};

} // namespace

static void report(const pass_state &pass, const check_record &r) {
  pass.report_to(r, pass.context);
}

static void end_run(pass_state &pass) {
  const run_state &run = pass.run;
  if (run.lines > 1) {
    check_record r = record_at(check_kind::run_of_earlier, finding_code::out_of_order,
                               severity::note, run.first, run.column, run.byte_column);
    r.related = run.last;
    r.count = run.lines - 1;
    report(pass, r);
  }
  pass.run = run_state{};
}

// The findings of a line that is not an event: its reason, or the byte-order
// mark that makes a comment of it.
static void check_not_event(pass_state &pass, check_record &r, const char *line) {
  if (meant_as_event(r.problem)) {
    r.kind = check_kind::skipped;
    r.code = skip_code(r.problem);
    r.level = severity::warning;
    r.column = r.byte_column = field_column(line, r.problem.value);
    report(pass, r);
    // A note on that fails only at its velocity still names its note.
    if (r.problem.starts[static_cast<std::size_t>(field::velocity)] != nullptr &&
        (r.event.status & 0xF0) == 0x90) {
      note_skipped_on(pass.notes, r, line);
    }
    return;
  }
  timed_event e;
  field_problem why;
  if (std::memcmp(line, "\xEF\xBB\xBF", 3) == 0 &&
      (explain_line(line + 3, &e, &why) || meant_as_event(why))) {
    check_record b = record_at(check_kind::hidden_by_bom, finding_code::byte_order_mark,
                               severity::warning, r.line, 1, 1);
    b.text = r.text;
    b.offset = r.offset;
    report(pass, b);
  }
}

static void check_earlier(pass_state &pass, check_record &r, const char *line,
                          std::uint32_t last_time, std::uint64_t last_line) {
  run_state &run = pass.run;
  r.kind = check_kind::earlier;
  r.code = finding_code::out_of_order;
  r.level = severity::warning;
  r.last_time = last_time;
  r.related = last_line;
  r.column = r.byte_column =
      field_column(line, r.problem.starts[static_cast<std::size_t>(field::seconds)]);
  if (run.lines++ == 0) {
    run.first = r.line;
    run.column = r.column;
    run.byte_column = r.byte_column;
  }
  run.last = r.line;
  report(pass, r);
  if (is_note_on(r.event)) {
    note_skipped_on(pass.notes, r, line);
  }
}

// A Standard MIDI File, bare or in a RIFF RMID wrapper, or UTF-16 text, by
// the first bytes; the input buffer holds the start of the file while its
// first line is read, but for a NUL among its first two bytes, which the
// input has overwritten with the line feed that ends the data.
static check_kind not_text(const text_input &input, const char *start) {
  if (std::memcmp(start, "MThd", 4) == 0 ||
      (std::memcmp(start, "RIFF", 4) == 0 && std::memcmp(start + 8, "RMID", 4) == 0)) {
    return check_kind::midi_file;
  }
  bool marked = std::memcmp(start, "\xFF\xFE", 2) == 0 || std::memcmp(start, "\xFE\xFF", 2) == 0;
  std::size_t nul_at = input.error == input_fault::nul ? input.error_column : 0;
  bool first_nul = nul_at == 1;
  bool second_nul = nul_at == 2 || (nul_at == 1 && start[1] == '\0');
  // Text of ASCII in 16 bits has a NUL beside every character; two NULs
  // side by side, as in a file of zeros, are no text at all.
  bool ascii_in_16_bits = first_nul != second_nul;
  return marked || ascii_in_16_bits ? check_kind::utf_16 : check_kind::cannot_convert;
}

static void report_stop(pass_state &pass) {
  end_run(pass);
  const text_input &input = pass.input;
  const char *data = input_data(input), *line = data + input.pos;
  check_kind kind = input.line == 1 ? not_text(input, data) : check_kind::cannot_convert;
  if (kind == check_kind::utf_16 && input.error != input_fault::nul) {
    kind = check_kind::cannot_convert;
  }
  static constexpr std::array<finding_code, 6> codes = {
      finding_code::read_error, finding_code::read_error,         finding_code::line_too_long,
      finding_code::nul_byte,   finding_code::no_final_line_feed, finding_code::end_mark_in_line};
  check_record r = record_at(kind, codes[static_cast<std::size_t>(input.error)], severity::error,
                             input.line, 1, 1);
  r.code = kind == check_kind::midi_file ? finding_code::midi_file
           : kind == check_kind::utf_16  ? finding_code::utf_16
                                         : r.code;
  r.fault = input.error;
  r.error = input.sys_error;
  std::size_t at = input.error == input_fault::too_long       ? max_line + 1
                   : input.error == input_fault::no_line_feed ? input.len - input.pos + 1
                                                              : input.error_column;
  // Lines that end in a CR alone, as old Macs wrote them, read as one line
  // that runs on to the end of the file or past 998 characters: the cause to
  // name is the first CR with text after it, not the length. A CR that only
  // ends the file is a CR LF that lost its line feed.
  if (kind == check_kind::cannot_convert &&
      (input.error == input_fault::too_long || input.error == input_fault::no_line_feed)) {
    std::size_t n = std::min(input.len - input.pos - 1, max_line);
    if (const auto *cr = static_cast<const char *>(std::memchr(line, '\r', n)); cr != nullptr) {
      kind = check_kind::cr_line_ends;
      r.kind = kind;
      r.code = finding_code::cr_line_ends;
      at = static_cast<std::size_t>(cr - line) + 1;
    }
  }
  if ((kind == check_kind::cannot_convert || kind == check_kind::cr_line_ends) && at != 0) {
    r.byte_column = at;
    r.column = char_column(line, at);
  }
  if (input.error == input_fault::read_failed) {
    r.line = r.column = r.byte_column = 0;
  } else {
    r.text = line;
    r.offset = input.base + input.pos;
  }
  report(pass, r);
}

// Plain lines, many at a time, through the converter's own plain scan:
// each is an accepted event with nothing to explain, so only its note is
// checked. Returns whether the scan took any.
static bool check_plain_lines(pass_state &pass, std::uint32_t &last_time,
                              std::uint64_t &last_line) {
  text_input &input = pass.input;
  const auto &events = pass.events;
  const auto &lines = pass.lines;
  const char *data = input_data(input), *p = data + input.pos;
  std::size_t n = scan_plain_lines(&p, data + input.len, last_time, pass.events.data(),
                                   pass.lines.data(), events.size());
  if (n == 0) {
    return false;
  }
  end_run(pass);
  const char *line = data + input.pos;
  check_record r{};
  r.kind = check_kind::accepted;
  r.offset = input.base + input.pos;
  for (std::size_t k = 0; k < n; ++k) {
    r.line = ++input.line;
    r.text = line;
    r.event = events[k];
    r.problem.starts[static_cast<std::size_t>(field::note)] = line + lines[k].note;
    report(pass, r);
    check_note(pass.notes, r, line, pass.report_to, pass.context);
    line += lines[k].length;
    r.offset += lines[k].length;
  }
  input.pos = static_cast<std::size_t>(p - data);
  last_time = events[n - 1].time;
  last_line = input.line;
  return true;
}

// On the heap, for a check may run inside another's report on a small
// stack; the plain scan's arrays are left for it to fill.
static std::unique_ptr<pass_state> start_pass(std::uint16_t drums, check_report to, void *context) {
  std::unique_ptr<pass_state> pass(new pass_state);
  pass->notes.drums = drums;
  pass->report_to = to;
  pass->context = context;
  return pass;
}

// The pass over the input that pass holds: a stream, or bytes in memory.
static int run_pass(pass_state &pass, std::FILE *in) {
  check_report to = pass.report_to;
  void *context = pass.context;
  text_input &input = pass.input;
  std::uint32_t last_time = 0;
  std::uint64_t last_line = 0;
  const char *line = nullptr;
  int rc = 0;
  plain_pace pace;
  for (;;) {
    if (plain_due(pace)) {
      bool took = check_plain_lines(pass, last_time, last_line);
      plain_tried(pace, took);
      if (took) {
        continue;
      }
    }
    if ((rc = next_line(input, in, &line)) != 0) {
      break;
    }
    check_record r{};
    r.line = input.line;
    r.text = line;
    r.offset = input.base + static_cast<std::uint64_t>(line - input_data(input));
    if (!explain_line(line, &r.event, &r.problem)) {
      check_not_event(pass, r, line);
    } else if (!in_order(r.event.time, last_time)) {
      check_earlier(pass, r, line, last_time, last_line);
    } else {
      end_run(pass);
      last_time = r.event.time;
      last_line = input.line;
      r.kind = check_kind::accepted;
      report(pass, r);
      if (r.problem.glued != nullptr) {
        check_record g = r;
        g.kind = check_kind::glued;
        g.code = finding_code::glued_text;
        g.level = severity::warning;
        g.column = g.byte_column = field_column(line, r.problem.glued);
        report(pass, g);
      }
      check_note(pass.notes, r, line, to, context);
    }
  }
  if (rc == -2) {
    report_stop(pass);
    return -2;
  }
  end_run(pass);
  if (input.mark_line != 0) {
    bool padding = true;
    std::uint64_t ignored = bytes_after_mark(input, in, &padding);
    if (!padding) {
      check_record r = record_at(check_kind::after_mark, finding_code::end_mark, severity::note,
                                 input.mark_line, input.mark_column, input.mark_column);
      r.count = ignored;
      report(pass, r);
    }
  }
  report_still_sounding(pass.notes, to, context);
  return 0;
}

int check_stream(std::FILE *in, std::uint16_t drums, check_report to, void *context) {
  return run_pass(*start_pass(drums, to, context), in);
}

int check_bytes(const char *data, std::size_t size, std::uint16_t drums, check_report to,
                void *context) {
  std::unique_ptr<pass_state> pass = start_pass(drums, to, context);
  pass->input.memory = data;
  pass->input.memory_size = size;
  return run_pass(*pass, nullptr);
}
