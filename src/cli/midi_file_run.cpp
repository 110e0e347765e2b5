// mid2qev's work on one file (midi_file_run.h). Every way a run can end is
// a record here; nothing is printed but by main.
#include "midi_file_run.h"

#include "cli/output_path.h"
#include "cli/program.h"
#include "midi/midi_reader.h"
#include "platform/platform.h"
#include "platform/printf_check.h"
#include "qev/qev_writer.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Text made as printf makes it.
[[gnu::format(QEV2MID_PRINTF, 1, 2)]] static std::string text_of(const char *format, ...) {
  std::va_list values;
  va_start(values, format);
  std::va_list again;
  va_copy(again, values);
  int n = std::vsnprintf(nullptr, 0, format, values);
  va_end(values);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
  if (n > 0) {
    std::vsnprintf(s.data(), s.size() + 1, format, again);
  }
  va_end(again);
  return s;
}

static file_run refused(std::string line, std::string kind) {
  return {run_outcome::refused, std::move(line), std::move(kind), 0};
}

// A reason less its numbers, so that faults of one kind count together:
// "track 4 ends inside an event" is "track N ends inside an event".
static std::string kind_of(const char *reason) {
  std::string s;
  for (const char *p = reason; *p != '\0';) {
    if (std::isdigit(static_cast<unsigned char>(*p)) != 0) {
      while (std::isxdigit(static_cast<unsigned char>(*p)) != 0 || *p == 'x') {
        ++p;
      }
      s += 'N';
    } else {
      s += *p++;
    }
  }
  return s;
}

// The input read whole: what does not start like MIDI after its first
// bytes, as it may never end. Empty where it was read, else the refusal.
static file_run read_whole(const run_options &o, const char *inpath, std::FILE *in,
                           input_bytes *bytes) {
  // A run that writes the input holds it locked until it is complete: its
  // bytes are read whole, never half-written, and once only, so that what
  // was checked is what is converted.
  lock_input(in);
  read_result read = read_input(in, bytes, midi_head_size);
  if (read == read_result::ok && midi_may_start(bytes->data, bytes->size)) {
    read = read_input(in, bytes);
  }
  unlock_input(in);
  switch (read) {
  case read_result::ok:
    return {};
  case read_result::too_large:
    return refused(text_of("%s: %s is longer than %zu MiB, the most read from a pipe\n", o.prog,
                           inpath, max_stream_input >> 20),
                   "longer than a pipe may be");
  case read_result::no_memory:
    return refused(text_of("%s: Memory overflow\n", o.prog), "memory overflow");
  case read_result::failed:
    break;
  }
  return refused(text_of("%s: Error reading %s\n", o.prog, inpath), "error reading");
}

// Writes the QEV of the reading to outpath, or beside inpath.
static file_run write_out(const run_options &o, const char *inpath, const char *outpath,
                          std::FILE *in, midi_reading &reading, const midi_file_info &info) {
  const char *name = std::strcmp(inpath, "-") == 0 ? nullptr : inpath;
  if (outpath != nullptr && std::strcmp(outpath, "-") == 0) {
    // No lock and no removal here: what was written stays.
    set_binary(stdout);
    if (write_qev(stdout, reading, name, info) != 0 || !close_stdout()) {
      return refused(text_of("%s: Error writing standard output\n", o.prog), "error writing");
    }
    return {};
  }
  char *beside = outpath == nullptr ? newext(inpath, ".qev") : nullptr;
  if (outpath == nullptr && (outpath = beside) == nullptr) {
    return refused(text_of("%s: Memory overflow\n", o.prog), "memory overflow");
  }
  file_run run{};
  std::FILE *out = nullptr;
  switch (open_output(outpath, in, &out,
                      o.force ? existing_file::replace_it : existing_file::keep_it)) {
  case create_result::ok:
    if (write_qev(out, reading, name, info) != 0) {
      discard_output(out);
      run = refused(text_of("%s: Error writing %s\n", o.prog, outpath), "error writing");
    } else if (close_output(out) != 0) {
      // The last chance to hear of a lost write; success must not be claimed past it.
      run = refused(text_of("%s: Error writing %s\n", o.prog, outpath), "error writing");
    }
    break;
  case create_result::is_input:
    run = refused(text_of("%s: Output file %s is the input file\n", o.prog, outpath),
                  "the output is the input");
    break;
  case create_result::exists:
    // A hand-written QEV file, comments and all, is never replaced unasked.
    run = refused(text_of("%s: %s exists; use -f to replace it\n", o.prog, outpath),
                  "the output exists");
    break;
  case create_result::failed:
    run = refused(text_of("%s: Error creating %s\n", o.prog, outpath), "error creating");
    break;
  }
  std::free(beside);
  return run;
}

// The whole input is read and checked before the output is touched.
static file_run convert_bytes(const run_options &o, const char *inpath, const char *outpath,
                              std::FILE *in, const input_bytes &bytes) {
  midi_reading reading;
  midi_file_info info{};
  midi_fault fault{};
  if (!midi_open(reading, bytes.data, bytes.size, &info, &fault, o.salvage)) {
    std::string kind = fault.too_late ? "cannot be written as QEV: " : "not a Standard MIDI File: ";
    return refused(text_of(fault.too_late ? "%s: %s cannot be written as QEV: %s at byte %zu\n"
                                          : "%s: %s is not a Standard MIDI File: %s at byte %zu\n",
                           o.prog, inpath, fault.reason, fault.offset),
                   kind + kind_of(fault.reason));
  }
  // A salvaged file must never pass for a whole one: it ends with status
  // 3, and with none of its notes, it is refused. They are counted first,
  // so that nothing is written for a file that gives none.
  std::string damage = damage_summary(info);
  if (damage.empty()) {
    return write_out(o, inpath, outpath, in, reading, info);
  }
  std::uint64_t kept = midi_count_notes(reading);
  if (kept == 0) {
    return refused(text_of("%s: %s: no note can be salvaged: %s\n", o.prog, inpath, damage.c_str()),
                   "no note can be salvaged: " + kind_of(info.damage.front().reason));
  }
  midi_open(reading, bytes.data, bytes.size, &info, &fault, o.salvage);
  file_run run = write_out(o, inpath, outpath, in, reading, info);
  if (run.how == run_outcome::refused) {
    return run;
  }
  return {run_outcome::salvaged,
          text_of("%s: %s is damaged: %s; %llu %s salvaged\n", o.prog, inpath, damage.c_str(),
                  static_cast<unsigned long long>(kept), kept == 1 ? "note" : "notes"),
          "", kept};
}

file_run convert_midi_file(const run_options &o, const char *inpath, const char *outpath) {
  bool from_stdin = std::strcmp(inpath, "-") == 0;
  std::FILE *in = from_stdin ? stdin : open_input(inpath);
  if (in == nullptr) {
    return refused(text_of("%s: File %s not found\n", o.prog, inpath), "not found");
  }
  set_binary(in);
  input_bytes bytes{};
  file_run run = read_whole(o, inpath, in, &bytes);
  if (run.how != run_outcome::refused) {
    run = convert_bytes(o, inpath, outpath, in, bytes);
  }
  std::free(bytes.data);
  if (!from_stdin) {
    std::fclose(in);
  }
  return run;
}

void tally_run(run_tally &tally, const file_run &run) {
  ++tally.files;
  switch (run.how) {
  case run_outcome::converted:
    ++tally.converted;
    break;
  case run_outcome::salvaged:
    ++tally.salvaged;
    tally.kept += run.kept;
    break;
  case run_outcome::refused:
    ++tally.refused;
    ++tally.reasons[run.kind];
    break;
  }
}

std::string tally_line(const char *prog, const run_tally &t) {
  auto n = [](std::uint64_t v) { return std::to_string(v); };
  std::string s = std::string(prog) + ": " + n(t.files) + " files: " + n(t.converted) +
                  " converted, " + n(t.salvaged) + " salvaged";
  if (t.salvaged != 0) {
    s += " (" + n(t.kept) + (t.kept == 1 ? " note kept)" : " notes kept)");
  }
  s += ", " + n(t.refused) + " refused";
  const char *sep = " (";
  for (const auto &[kind, count] : t.reasons) {
    s += sep;
    s += n(count);
    s += ' ';
    s += kind;
    sep = "; ";
  }
  return s + (t.reasons.empty() ? "\n" : ")\n");
}

int tally_status(const run_tally &t) {
  return t.refused != 0 ? 1 : t.salvaged != 0 ? 3 : 0;
}
