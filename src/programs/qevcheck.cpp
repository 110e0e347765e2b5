// qevcheck: explains every line of a QEV file that qev2mid skips or stops at,
// and every note that will not sound as written, one line per finding in the
// form compilers use, so that editors can jump to it.
#include "check/check_pass.h"
#include "check/check_summary.h"
#include "check/finding_lines.h"
#include "cli/channel_letters.h"
#include "cli/program.h"
#include "cli/put_format.h"
#include "platform/platform.h"
#include "qev/characters.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The run's options and what it has written, which main owns. The findings
// are formatted into one buffer that goes out whole lines at a time: a
// printf per piece cost more than the check itself on a file where every
// line has a finding.
struct run_state {
  line_form form = line_form::text;
  bool quiet = false;
  bool channels = false;
  std::uint16_t drums = default_drums;
  std::string pending;
  bool wrote = false;
  bool write_failed = false;
  // The file being checked: its name as its lines give it, and its tally.
  const char *name = nullptr;
  check_tally tally;
};

static void flush_pending(run_state &run) {
  if (!run.pending.empty() && !put_text(stdout, run.pending.data(), run.pending.size())) {
    run.write_failed = true;
  }
  run.pending.clear();
}

static void report(const check_record &r, void *context) {
  auto &run = *static_cast<run_state *>(context);
  tally_record(run.tally, r);
  if (r.kind != check_kind::accepted && !run.quiet) {
    run.wrote = true;
    append_finding(run.pending, r, run.name, run.form);
    if (run.pending.size() >= 64 * 1024) {
      flush_pending(run);
    }
  }
}

// Checks one file: 0 when nothing is found, 1 when something is, 2 when
// the converter cannot convert it or it cannot be checked.
static int check_file(run_state &run, const char *prog, const char *path) {
  bool from_stdin = std::strcmp(path, "-") == 0;
  bool directory = false;
  std::FILE *in = from_stdin ? stdin : open_input(path, &directory);
  // JSON escapes what it must; a text line must show no name that could
  // drive a terminal.
  std::string shown = printable_name(from_stdin ? "<stdin>" : path);
  if (in == nullptr) {
    put_format(stderr, directory ? "%s: %s is a directory\n" : "%s: File %s not found\n", prog,
               shown.c_str());
    return 2;
  }
  if (from_stdin) {
    set_binary(stdin);
  }
  run.name = run.form == line_form::json ? (from_stdin ? "<stdin>" : path) : shown.c_str();
  run.tally = check_tally{};
  int rc = check_stream(in, run.drums, report, &run);
  if (!from_stdin) {
    std::fclose(in);
  }
  flush_pending(run);
  // The summary goes to standard error, which is not buffered: standard
  // output must be out first, or its tail would land after the summary,
  // which 2>&1 would then show in the middle of a finding. What is pending
  // ends at a line's end, so this flush does too.
  if (std::fflush(stdout) != 0) {
    run.write_failed = true;
  }
  const check_tally &tally = run.tally;
  std::uint64_t found = tally.by_level[0] + tally.by_level[1] + tally.by_level[2];
  if (found != 0 || run.channels) {
    std::string text = summary_text(shown.c_str(), tally, rc == 0, run.channels);
    put_text(stderr, text.data(), text.size());
  }
  return rc != 0 ? 2 : found != 0 ? 1 : 0;
}

static constexpr const char *usage =
    "Usage: %s [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] "
    "QEV-FILE...\n";

int main(int argc, char **argv) {
  platform_start(&argc, &argv);
  const char *prog = program_name(argc, argv, "qevcheck");
  // Help, version and findings go to standard output, which must take them.
  auto finish_output = [prog]() {
    if (!close_stdout()) {
      put_format(stderr, "%s: Error writing standard output\n", prog);
      return 2;
    }
    return 0;
  };
  const char *color = "auto";
  run_state run;
  int first_file = argc;
  for (int i = 1; i < argc; ++i) {
    const char *a = argv[i];
    if (std::strcmp(a, "--") == 0 || std::strncmp(a, "--", 2) != 0) {
      first_file = i + (std::strcmp(a, "--") == 0 ? 1 : 0);
      break;
    }
    if (std::strcmp(a, "--help") == 0) {
      put_format(stdout, usage, prog);
      put_format(stdout,
                 "Explains every line of QEV event files that qev2mid skips or stops at,\n"
                 "and every note that will not sound as written, one line per finding in the\n"
                 "form FILE:LINE:COLUMN: SEVERITY: MESSAGE [CODE], or with --format=json as\n"
                 "one JSON object per line. A summary for each file goes to standard error.\n"
                 "  --quiet          the summary alone\n"
                 "  --color=WHEN     auto (on a terminal, unless NO_COLOR is set), always, never\n"
                 "  --drums=LETTERS  channels where a note on needs no note off (default j),\n"
                 "                   or none\n"
                 "  --channels       notes, range and times of each channel in the summary\n"
                 "Exit status: 0 when nothing is found; 1 when something is, but qev2mid\n"
                 "converts the files; 2 when qev2mid cannot convert one, or one cannot be\n"
                 "checked.\n");
      return finish_output();
    }
    if (std::strcmp(a, "--version") == 0) {
      put_format(stdout, "qevcheck %s\n", QEV2MID_VERSION);
      return finish_output();
    }
    bool ok = true;
    if (std::strcmp(a, "--format=json") == 0) {
      run.form = line_form::json;
    } else if (std::strcmp(a, "--quiet") == 0) {
      run.quiet = true;
    } else if (std::strcmp(a, "--channels") == 0) {
      run.channels = true;
    } else if (std::strncmp(a, "--color=", 8) == 0) {
      color = a + 8;
      ok = std::strcmp(color, "auto") == 0 || std::strcmp(color, "always") == 0 ||
           std::strcmp(color, "never") == 0;
    } else if (std::strncmp(a, "--drums=", 8) == 0) {
      ok = parse_drums(a + 8, &run.drums);
    } else {
      ok = false;
    }
    if (!ok) {
      put_format(stderr, usage, prog);
      return 2;
    }
  }
  if (first_file >= argc) {
    put_format(stderr, usage, prog);
    return 2;
  }
  const char *no_color = std::getenv("NO_COLOR");
  if (run.form == line_form::json) {
    set_binary(stdout);
  } else if (std::strcmp(color, "always") == 0 ||
             (std::strcmp(color, "auto") == 0 && (no_color == nullptr || *no_color == '\0') &&
              colors_text(stdout))) {
    run.form = line_form::color;
  }
  int worst = 0;
  for (int i = first_file; i < argc; ++i) {
    int rc = check_file(run, prog, argv[i]);
    worst = rc > worst ? rc : worst;
  }
  // A closed standard output is no fault when there was nothing to put on it.
  if (run.wrote && run.write_failed) {
    put_format(stderr, "%s: Error writing standard output\n", prog);
    return 2;
  }
  return run.wrote && finish_output() != 0 ? 2 : worst;
}
