// mid2qev's work on one file, and on a collection of them: the file read
// whole under its lock, read as MIDI or salvaged, and its QEV written; a
// record of how it ended, which main says, and the tally a collection's
// summary is made of.
#ifndef QEV2MID_MIDI_FILE_RUN_H
#define QEV2MID_MIDI_FILE_RUN_H

#include <cstdint>
#include <map>
#include <string>

enum class run_outcome : std::uint8_t { converted, salvaged, refused };

// How one file ended: the line to put on standard error, with its line
// feed, or none; for a refusal its kind, the reason less names and numbers;
// for a salvage the notes kept.
struct file_run {
  run_outcome how = run_outcome::converted;
  std::string line;
  std::string kind;
  std::uint64_t kept = 0;
};

struct run_options {
  const char *prog;
  bool force, salvage;
};

// Converts inpath ("-" for standard input) to outpath, or to the name
// beside it where outpath is null; "-" is standard output.
file_run convert_midi_file(const run_options &options, const char *inpath, const char *outpath);

// A collection's runs counted, and its refusals by kind.
struct run_tally {
  std::uint64_t files = 0, converted = 0, salvaged = 0, refused = 0, kept = 0;
  std::map<std::string, std::uint64_t> reasons;
};

void tally_run(run_tally &tally, const file_run &run);

// "mid2qev: 5 files: 2 converted, 1 salvaged (12 notes kept), 2 refused (1
// exists, 1 not a Standard MIDI File: track N ends inside an event)".
std::string tally_line(const char *prog, const run_tally &tally);

// The exit status of a collection: 1 if any file was refused, else 3 if any
// was salvaged, else 0.
int tally_status(const run_tally &tally);

#endif
