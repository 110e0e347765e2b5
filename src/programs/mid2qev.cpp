// mid2qev: converts a Standard MIDI File into a QEV event file beside it,
// the way back from qev2mid. It never replaces a QEV file unless told to.
#include "cli/output_path.h"
#include "cli/program.h"
#include "cli/put_format.h"
#include "midi/midi_reader.h"
#include "platform/platform.h"
#include "qev/qev_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The one line a salvage ends with: the file, its damage, and the notes kept.
static void salvaged(const char *prog, const char *path, const std::string &damage,
                     std::uint64_t kept) {
  if (!damage.empty()) {
    put_format(stderr, "%s: %s is damaged: %s; %llu %s salvaged\n", prog, path, damage.c_str(),
               static_cast<unsigned long long>(kept), kept == 1 ? "note" : "notes");
  }
}

int main(int argc, char **argv) {
  platform_start(&argc, &argv);
  const char *prog = program_name(argc, argv, "mid2qev");
  // Help and version go to standard output, which must take them.
  bool help = argc == 2 && std::strcmp(argv[1], "--help") == 0;
  bool version = argc == 2 && std::strcmp(argv[1], "--version") == 0;
  if (help) {
    put_format(stdout,
               "Usage: %s [-f] [--salvage] [-o OUT] MIDI-FILE\n"
               "Writes the notes of a Standard MIDI File as a QEV event file beside it,\n"
               "named like it with the extension .qev.\n"
               "  -f         replace an existing output\n"
               "  -o OUT     write OUT instead; - is standard output\n"
               "  --salvage  of a damaged file, write the notes that can be read with\n"
               "             certainty, and exit with status 3\n"
               "A MIDI-FILE of - is standard input, and then needs -o.\n",
               prog);
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
  bool force = false, usage = false, salvage = false;
  const char *inpath = nullptr;
  char *outpath = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "-f") == 0) {
      force = true;
    } else if (std::strcmp(argv[i], "--salvage") == 0) {
      salvage = true;
    } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      outpath = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      usage = true;
    } else if (inpath == nullptr) {
      inpath = argv[i];
    } else {
      usage = true;
    }
  }
  bool from_stdin = inpath != nullptr && std::strcmp(inpath, "-") == 0;
  if (usage || inpath == nullptr || (from_stdin && outpath == nullptr)) {
    put_format(stderr, "Usage: %s [-f] [--salvage] [-o OUT] MIDI-FILE\n", prog);
    std::exit(1);
  }
  install_interrupt_cleanup();
  std::FILE *in = from_stdin ? stdin : open_input(inpath);
  if (in == nullptr) {
    put_format(stderr, "%s: File %s not found\n", prog, inpath);
    std::exit(1);
  }
  set_binary(in);
  // The whole input is read and checked before the output is touched. A
  // run that writes the input holds it locked until it is complete: its
  // bytes are read whole, never half-written, and once only, so that what
  // was checked is what is converted. What does not start like MIDI is
  // refused after its first bytes, as it may never end.
  input_bytes bytes{};
  lock_input(in);
  read_result read = read_input(in, &bytes, midi_head_size);
  if (read == read_result::ok && midi_may_start(bytes.data, bytes.size)) {
    read = read_input(in, &bytes);
  }
  unlock_input(in);
  if (read == read_result::too_large) {
    put_format(stderr, "%s: %s is longer than %zu MiB, the most read from a pipe\n", prog, inpath,
               max_stream_input >> 20);
    std::exit(1);
  }
  if (read != read_result::ok) {
    put_format(stderr,
               read == read_result::no_memory ? "%s: Memory overflow\n" : "%s: Error reading %s\n",
               prog, inpath);
    std::exit(1);
  }
  midi_reading reading;
  midi_file_info info{};
  midi_fault fault{};
  if (!midi_open(reading, bytes.data, bytes.size, &info, &fault, salvage)) {
    put_format(stderr,
               fault.too_late ? "%s: %s cannot be written as QEV: %s at byte %zu\n"
                              : "%s: %s is not a Standard MIDI File: %s at byte %zu\n",
               prog, inpath, fault.reason, fault.offset);
    std::exit(1);
  }
  // A salvaged file must never pass for a whole one: it ends with status
  // 3, and with none of its notes, it is refused. They are counted first,
  // so that nothing is written for a file that gives none.
  std::string damage = damage_summary(info);
  std::uint64_t kept = damage.empty() ? 0 : midi_count_notes(reading);
  if (!damage.empty() && kept == 0) {
    put_format(stderr, "%s: %s: no note can be salvaged: %s\n", prog, inpath, damage.c_str());
    std::exit(1);
  }
  if (!damage.empty()) {
    midi_open(reading, bytes.data, bytes.size, &info, &fault, salvage);
  }
  int done = damage.empty() ? 0 : 3;
  const char *name = from_stdin ? nullptr : inpath;
  if (outpath != nullptr && std::strcmp(outpath, "-") == 0) {
    // No lock and no removal here: what was written stays.
    set_binary(stdout);
    if (write_qev(stdout, reading, name, info) != 0 || !close_stdout()) {
      put_format(stderr, "%s: Error writing standard output\n", prog);
      std::exit(1);
    }
    salvaged(prog, inpath, damage, kept);
    std::exit(done);
  }
  if (outpath == nullptr && (outpath = newext(inpath, ".qev")) == nullptr) {
    put_format(stderr, "%s: Memory overflow\n", prog);
    std::exit(1);
  }
  std::FILE *out = nullptr;
  switch (
      open_output(outpath, in, &out, force ? existing_file::replace_it : existing_file::keep_it)) {
  case create_result::ok:
    break;
  case create_result::is_input:
    put_format(stderr, "%s: Output file %s is the input file\n", prog, outpath);
    std::exit(1);
  case create_result::exists:
    // A hand-written QEV file, comments and all, is never replaced unasked.
    put_format(stderr, "%s: %s exists; use -f to replace it\n", prog, outpath);
    std::exit(1);
  case create_result::failed:
    put_format(stderr, "%s: Error creating %s\n", prog, outpath);
    std::exit(1);
  }
  if (write_qev(out, reading, name, info) != 0) {
    discard_output(out);
    put_format(stderr, "%s: Error writing %s\n", prog, outpath);
    std::exit(1);
  }
  // The last chance to hear of a lost write; success must not be claimed past it.
  if (close_output(out) != 0) {
    put_format(stderr, "%s: Error writing %s\n", prog, outpath);
    std::exit(1);
  }
  salvaged(prog, inpath, damage, kept);
  std::exit(done);
}
