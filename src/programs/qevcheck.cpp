// qevcheck: explains every line of a QEV file that qev2mid skips or stops at,
// and every note that will not sound as written, one line per finding in the
// form compilers use, so that editors can jump to it.
#include "platform/platform.h"
#include "put_format.h"
#include "qev/check_pass.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool found = false;

static const char *field_name(field f) {
  switch (f) {
  case field::seconds:
    return "seconds";
  case field::milliseconds:
    return "milliseconds";
  case field::channel:
    return "channel letter";
  case field::kind:
    return "kind letter";
  case field::note:
    return "note";
  case field::velocity:
    return "velocity";
  }
  return "field";
}

// A letter as it stands, or its byte's value where it would not show.
static void print_letter(const char *what, char c) {
  auto byte = static_cast<unsigned char>(c);
  if (byte > ' ' && byte < 0x7F) {
    put_format(stdout, "%s '%c'", what, c);
  } else {
    put_format(stdout, "%s byte 0x%02X", what, byte);
  }
}

static void print_problem(const field_problem &p) {
  int len = static_cast<int>(p.length);
  bool plural = p.where == field::seconds || p.where == field::milliseconds;
  put_format(stdout, "skipped: ");
  switch (p.fault) {
  case field_fault::missing:
    switch (p.where) {
    case field::milliseconds:
      put_format(stdout, "no milliseconds after the seconds\n");
      return;
    case field::channel:
      put_format(stdout, "no channel letter after the milliseconds\n");
      return;
    case field::kind:
      put_format(stdout, "no kind letter after the channel letter\n");
      return;
    case field::note:
      put_format(stdout, "no note number after the kind letter\n");
      return;
    default:
      put_format(stdout, "note on without a velocity\n");
      return;
    }
  case field_fault::minus:
    put_format(stdout, "the %s %s a minus sign: %.*s\n", field_name(p.where),
               plural ? "have" : "has", len, p.value);
    return;
  case field_fault::above_32_bits:
    put_format(stdout, "the %s %s above 4294967295: %.*s\n", field_name(p.where),
               plural ? "are" : "is", len, p.value);
    return;
  case field_fault::bad_channel:
    print_letter("channel letter", *p.value);
    put_format(stdout, " is not one of a to p\n");
    return;
  case field_fault::bad_kind:
    print_letter("kind letter", *p.value);
    put_format(stdout, " is neither P nor D\n");
    return;
  case field_fault::above_127:
    put_format(stdout, "%s %.*s is above 127\n", field_name(p.where), len, p.value);
    return;
  case field_fault::time_too_late:
    put_format(stdout, "time %llu ms is above 4294967295 ms\n",
               static_cast<unsigned long long>(p.number));
    return;
  }
}

static void print_fault(const check_record &r) {
  put_format(stdout, "cannot convert: ");
  switch (r.fault) {
  case input_fault::too_long:
    put_format(stdout, "the line has more than 998 characters\n");
    return;
  case input_fault::nul:
    put_format(stdout, "a NUL byte at column %zu\n", r.column);
    return;
  case input_fault::mark_in_line:
    put_format(stdout, "byte 0x1A at column %zu ends the input inside this line\n", r.column);
    return;
  case input_fault::no_line_feed:
    put_format(stdout, "the last line has no line feed\n");
    return;
  default:
    put_format(stdout, "%s\n", std::strerror(r.error));
    return;
  }
}

static void print_seconds(std::uint32_t ms) {
  put_format(stdout, "%u.%03u s", static_cast<unsigned>(ms / 1000),
             static_cast<unsigned>(ms % 1000));
}

static void print_note(const check_record &r) {
  put_format(stdout, "note %u on channel %c", static_cast<unsigned>(r.event.note),
             static_cast<char>('a' + (r.event.status & 0x0F)));
}

static void report(const check_record &r, void *context) {
  if (r.kind == check_kind::accepted) {
    return;
  }
  found = true;
  const char *path = static_cast<const char *>(context);
  if (r.line != 0) {
    put_format(stdout, "%s:%llu: ", path, static_cast<unsigned long long>(r.line));
  } else {
    put_format(stdout, "%s: ", path);
  }
  switch (r.kind) {
  case check_kind::skipped:
    print_problem(r.problem);
    return;
  case check_kind::earlier:
    put_format(stdout, "skipped: ");
    print_seconds(r.event.time);
    put_format(stdout, " is earlier than the event on line %llu at ",
               static_cast<unsigned long long>(r.other_line));
    print_seconds(r.last_time);
    put_format(stdout, "\n");
    return;
  case check_kind::hidden_by_bom:
    put_format(stdout, "skipped: a byte-order mark at the start of the file hides this event\n");
    return;
  case check_kind::cannot_convert:
    print_fault(r);
    return;
  case check_kind::midi_file:
    put_format(stdout, "cannot convert: this is a Standard MIDI File, not QEV text; mid2qev "
                       "converts it to QEV\n");
    return;
  case check_kind::after_mark:
    put_format(stdout, "note: byte 0x1A ends the input here; %llu %s after it %s ignored\n",
               static_cast<unsigned long long>(r.ignored), r.ignored == 1 ? "byte" : "bytes",
               r.ignored == 1 ? "is" : "are");
    return;
  case check_kind::off_not_sounding:
    put_format(stdout, "note off for ");
    print_note(r);
    put_format(stdout, ", which is not sounding\n");
    return;
  case check_kind::on_sounding:
    put_format(stdout, "note on for ");
    print_note(r);
    put_format(stdout, ", which is already sounding since line %llu\n",
               static_cast<unsigned long long>(r.other_line));
    return;
  case check_kind::still_sounding:
    print_note(r);
    put_format(stdout, " is still sounding at the end of the file\n");
    return;
  case check_kind::accepted:
    return;
  }
}

// Help and version go to standard output, which must take them.
static int finish_output(const char *prog) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::fclose(stdout) != 0) {
    put_format(stderr, "%s: Error writing standard output\n", prog);
    return 2;
  }
  return 0;
}

int main(int argc, char **argv) {
  platform_start(&argc, &argv);
  const char *prog = argc > 0 && argv[0][0] != '\0' ? argv[0] : "qevcheck";
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    put_format(stdout,
               "Usage: %s QEV-FILE\n"
               "Explains every line of a QEV event file that qev2mid skips or stops at,\n"
               "and every note that will not sound as written, one line per finding.\n"
               "Exit status: 0 when nothing is found; 1 when something is, but qev2mid\n"
               "converts the file; 2 when qev2mid cannot convert it, or it cannot be checked.\n",
               prog);
    return finish_output(prog);
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    put_format(stdout, "qevcheck %s\n", QEV2MID_VERSION);
    return finish_output(prog);
  }
  if (argc != 2) {
    put_format(stderr, "Usage: %s QEV-FILE\n", prog);
    return 2;
  }
  std::FILE *in = open_input(argv[1]);
  if (in == nullptr) {
    put_format(stderr, "%s: File %s not found\n", prog, argv[1]);
    return 2;
  }
  int rc = check_stream(in, report, argv[1]);
  std::fclose(in);
  // A closed standard output is no fault when there was nothing to put on it.
  if (found && finish_output(prog) != 0) {
    return 2;
  }
  return rc != 0 ? 2 : found ? 1 : 0;
}
