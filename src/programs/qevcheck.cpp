// qevcheck: explains every line of a QEV file that qev2mid skips or stops at,
// and every note that will not sound as written, one line per finding in the
// form compilers use, so that editors can jump to it.
#include "check/check_pass.h"
#include "check/check_summary.h"
#include "check/finding_lines.h"
#include "check/repair.h"
#include "check/unified_diff.h"
#include "cli/channel_letters.h"
#include "cli/program.h"
#include "cli/put_format.h"
#include "cli/rewrite_file.h"
#include "lsp/lsp_session.h"
#include "platform/platform.h"
#include "qev/characters.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The run's options and what it has written, which main owns. The findings
// are formatted into one buffer that goes out whole lines at a time: a
// printf per piece cost more than the check itself on a file where every
// line has a finding.
struct run_state {
  line_form form = line_form::text;
  bool quiet = false;
  bool channels = false;
  std::uint16_t drums = default_drums;
  bool fix = false, unsafe = false, diff = false;
  std::string pending;
  // Where the findings go: standard error where standard output carries a
  // diff or a fixed text.
  std::FILE *out = stdout;
  bool wrote = false;
  bool write_failed = false;
  // The file being checked: its name as its lines give it, and its tally;
  // read whole, its fixes, for JSON, and which finding comes next.
  const char *name = nullptr;
  check_tally tally;
  const std::vector<found_fix> *fixes = nullptr;
  const fix_place *place = nullptr;
  std::size_t finding = 0, next_fix = 0;
  bool changed = false;
};

static void flush_pending(run_state &run) {
  if (!run.pending.empty() && !put_text(run.out, run.pending.data(), run.pending.size())) {
    run.write_failed = run.write_failed || run.out == stdout;
  }
  run.pending.clear();
}

// The fix of the next finding, where the file was read whole.
static const check_fix *fix_of(run_state &run) {
  return run.fixes != nullptr ? next_fix(*run.fixes, run.finding++, &run.next_fix) : nullptr;
}

// Findings are few beside accepted events, which are only counted: apart,
// the count needs no stack frame.
[[gnu::noinline]] static void report_finding(run_state &run, const check_record &r) {
  const check_fix *fix = fix_of(run);
  if (!run.quiet) {
    run.wrote = run.wrote || run.out == stdout;
    append_finding(run.pending, r, run.name, run.form, fix, run.place);
    if (run.pending.size() >= 64 * 1024) {
      flush_pending(run);
    }
  }
}

static void report(const check_record &r, void *context) {
  auto &run = *static_cast<run_state *>(context);
  tally_record(run.tally, r);
  if (r.kind != check_kind::accepted) {
    report_finding(run, r);
  }
}

// The file read whole: repaired where asked, the repair put where it goes,
// and then checked from memory, with each finding's fix in JSON. Returns
// the check's result, or -3 when the file could not be read or rewritten.
static int check_whole(run_state &run, const char *prog, const char *path, const char *shown,
                       std::FILE *in, bool from_stdin) {
  input_bytes b{};
  lock_input(in);
  read_result read = read_input(in, &b);
  unlock_input(in);
  std::string before(reinterpret_cast<const char *>(b.data), b.size), text = before;
  std::free(b.data);
  if (read != read_result::ok) {
    put_format(stderr, "%s: Error reading %s\n", prog, shown);
    return -3;
  }
  if (run.fix || run.diff) {
    text = repair(before, run.drums, run.unsafe);
  }
  if (run.diff || (run.fix && from_stdin)) {
    std::string put = run.diff ? unified_diff(path, before, text) : text;
    run.wrote = run.wrote || !put.empty();
    run.write_failed = run.write_failed || !put_text(stdout, put.data(), put.size());
  } else if (run.fix && text != before) {
    int error = 0;
    rewrite_result done = rewrite_file(path, text, &error);
    if (done == rewrite_result::other_names) {
      put_format(stderr,
                 "%s: %s has other names (hard links), which a fix would part; "
                 "it is left as it was\n",
                 prog, shown);
      return -3;
    }
    if (done == rewrite_result::failed) {
      put_format(stderr, "%s: %s cannot be fixed: %s; it is left as it was\n", prog, shown,
                 error != 0 ? std::strerror(error) : "it cannot be written");
      return -3;
    }
  }
  std::vector<found_fix> fixes;
  fix_place place{&text, {}};
  if (run.form == line_form::json) {
    fixes = find_fixes(text, run.drums);
    place.starts = line_starts(text);
    run.fixes = &fixes;
    run.place = &place;
    run.finding = run.next_fix = 0;
  }
  int rc = check_bytes(text.data(), text.size(), run.drums, report, &run);
  run.fixes = nullptr;
  run.place = nullptr;
  run.changed = text != before;
  return rc;
}

// Checks one file: 0 when nothing is found, 1 when something is, 2 when
// the converter cannot convert it or it cannot be checked. With --diff: 0
// when nothing is to fix, 1 when something is, 2 as before.
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
  bool whole = run.fix || run.diff || run.form == line_form::json;
  int rc = whole ? check_whole(run, prog, path, shown.c_str(), in, from_stdin)
                 : check_stream(in, run.drums, report, &run);
  if (!from_stdin) {
    std::fclose(in);
  }
  if (rc == -3) {
    return 2;
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
    // Some C libraries buffer standard error when it is a file.
    std::fflush(stderr);
  }
  if (run.diff) {
    return run.changed ? 1 : 0;
  }
  return rc != 0 ? 2 : found != 0 ? 1 : 0;
}

static constexpr const char *usage =
    "Usage: %s [--format=json] [--quiet] [--color=WHEN] [--drums=LETTERS] [--channels] "
    "[--fix] [--unsafe-fixes] [--diff] QEV-FILE... | --lsp\n";

// The language server on standard input and output, which carry nothing
// but the protocol's messages, byte for byte. The exit status is the
// protocol's: 0 for an exit after shutdown, 1 otherwise.
static int serve_lsp(const char *prog) {
  set_binary(stdin);
  set_binary(stdout);
  switch (serve(stdin, stdout)) {
  case session_end::exit_after_shutdown:
    return 0;
  case session_end::bad_header:
    put_format(stderr, "%s: a message from the editor has no valid Content-Length header\n", prog);
    return 1;
  case session_end::write_failed:
    put_format(stderr, "%s: Error writing standard output\n", prog);
    return 1;
  default:
    return 1;
  }
}

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
  if (argc == 2 && std::strcmp(argv[1], "--lsp") == 0) {
    return serve_lsp(prog);
  }
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
                 "  --fix            repair what has a safe fix, in place (- to standard\n"
                 "                   output), and report what is left\n"
                 "  --unsafe-fixes   with --fix or --diff: the fixes that change what plays\n"
                 "  --diff           show the fixes as a unified diff; change nothing\n"
                 "  --lsp            serve editors as a language server on standard input\n"
                 "                   and output\n"
                 "Exit status: 0 when nothing is found; 1 when something is, but qev2mid\n"
                 "converts the files; 2 when qev2mid cannot convert one, or one cannot be\n"
                 "checked. With --diff: 0 when nothing is to fix, 1 when something is.\n");
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
    } else if (std::strcmp(a, "--fix") == 0) {
      run.fix = true;
    } else if (std::strcmp(a, "--unsafe-fixes") == 0) {
      run.unsafe = true;
    } else if (std::strcmp(a, "--diff") == 0) {
      run.diff = true;
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
  // Unsafe fixes are applied, or shown, only by a run that fixes.
  if (first_file >= argc || (run.unsafe && !run.fix && !run.diff)) {
    put_format(stderr, usage, prog);
    return 2;
  }
  for (int i = first_file; i < argc; ++i) {
    // Standard output carries the diff, or the fixed text of standard input.
    if (run.diff || (run.fix && std::strcmp(argv[i], "-") == 0)) {
      run.out = stderr;
    }
  }
  if (run.fix && !run.diff) {
    install_interrupt_cleanup();
  }
  // A diff or a fixed text goes out byte for byte, line ends and all.
  if (run.out == stderr) {
    set_binary(stdout);
  }
  const char *no_color = std::getenv("NO_COLOR");
  if (run.form == line_form::json) {
    set_binary(stdout);
  } else if (std::strcmp(color, "always") == 0 ||
             (std::strcmp(color, "auto") == 0 && (no_color == nullptr || *no_color == '\0') &&
              colors_text(run.out))) {
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
