// mid2qev: converts Standard MIDI Files into QEV event files beside them,
// the way back from qev2mid. It never replaces a QEV file unless told to.
// Of a collection, it converts each file in turn and goes on after a
// failure; the work on one file is in cli/midi_file_run.
#include "cli/midi_file_run.h"
#include "cli/program.h"
#include "cli/put_format.h"
#include "platform/platform.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static constexpr const char *usage_text = "Usage: %s [-f] [--salvage] [-o OUT] MIDI-FILE...\n";

int main(int argc, char **argv) {
  platform_start(&argc, &argv);
  const char *prog = program_name(argc, argv, "mid2qev");
  // Help and version go to standard output, which must take them.
  bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
  bool version = argc == 2 && std::strcmp(argv[1], "--version") == 0;
  if (help) {
    put_format(stdout, usage_text, prog);
    put_format(stdout,
               "Writes the notes of each Standard MIDI File as a QEV event file beside it,\n"
               "named like it with the extension .qev, going on after a failure.\n"
               "  -f         replace an existing output\n"
               "  -o OUT     write OUT instead, for one MIDI-FILE; - is standard output\n"
               "  --salvage  of a damaged file, write the notes that can be read with\n"
               "             certainty, and exit with status 3\n"
               "A MIDI-FILE of - is standard input, and then needs -o.\n");
  } else if (version) {
    put_format(stdout, "mid2qev %s\n", QEV2MID_VERSION);
  }
  if (help || version) {
    if (!close_stdout()) {
      put_format(stderr, "%s: Error writing standard output\n", prog);
      return 1;
    }
    return 0;
  }
  run_options options{prog, false, false};
  bool usage = false;
  const char *outpath = nullptr;
  std::vector<const char *> inputs;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-f") == 0) {
      options.force = true;
    } else if (std::strcmp(argv[i], "--salvage") == 0) {
      options.salvage = true;
    } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      outpath = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      usage = true;
    } else {
      inputs.push_back(argv[i]);
    }
  }
  bool from_stdin = inputs.size() == 1 && std::strcmp(inputs[0], "-") == 0;
  if (usage || inputs.empty() || (from_stdin && outpath == nullptr) ||
      (outpath != nullptr && inputs.size() > 1)) {
    put_format(stderr, usage_text, prog);
    return 1;
  }
  install_interrupt_cleanup();
  // A long run on a terminal says how far it is, on one line that each
  // message and the summary write over.
  bool progress = inputs.size() > 1 && colors_text(stderr);
  auto shown = std::chrono::steady_clock::now();
  run_tally tally;
  for (const char *input : inputs) {
    file_run run = convert_midi_file(options, input, outpath);
    tally_run(tally, run);
    if (!run.line.empty()) {
      put_format(stderr, "%s%s", progress ? "\r\033[K" : "", run.line.c_str());
    }
    auto now = std::chrono::steady_clock::now();
    if (progress && now - shown > std::chrono::milliseconds(200)) {
      shown = now;
      put_format(stderr, "\r\033[K%s: %llu of %zu files", prog,
                 static_cast<unsigned long long>(tally.files), inputs.size());
    }
  }
  if (inputs.size() > 1) {
    put_format(stderr, "%s%s", progress ? "\r\033[K" : "", tally_line(prog, tally).c_str());
  }
  return tally_status(tally);
}
