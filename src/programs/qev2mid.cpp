// qev2mid: converts a QEV event file into a Standard MIDI File beside it.
#include "cli/output_path.h"
#include "cli/program.h"
#include "cli/put_format.h"
#include "platform/platform.h"
#include "qev/convert_events.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Ends a run whose output exists but is incomplete.
[[noreturn]] static void fail(std::FILE *in, std::FILE *out) {
  std::fclose(in);
  discard_output(out);
  std::exit(1);
}

int main(int argc, char **argv) {
  platform_start(&argc, &argv);
  const char *prog = program_name(argc, argv, "qev2mid");
  if (argc != 2) {
    put_format(stderr, "Usage: %s QEV-FILE\n", prog);
    std::exit(1);
  }
  install_interrupt_cleanup();
  const char *inpath = argv[1];
  std::FILE *in = open_input(inpath);
  if (in == nullptr) {
    put_format(stderr, "%s: File %s not found\n", prog, inpath);
    std::exit(1);
  }
  char *outpath = newext(inpath, ".mid");
  if (outpath == nullptr) {
    put_format(stderr, "%s: Memory overflow\n", prog);
    std::fclose(in);
    std::exit(1);
  }
  std::FILE *out = nullptr;
  switch (open_output(outpath, in, &out, existing_file::empty_it)) {
  case create_result::ok:
    break;
  case create_result::is_input:
    put_format(stderr, "%s: Output file %s is the input file\n", prog, outpath);
    std::fclose(in);
    std::exit(1);
  case create_result::failed:
  case create_result::exists: // only asked for by mid2qev
    put_format(stderr, "%s: Error creating %s\n", prog, outpath);
    std::fclose(in);
    std::exit(1);
  }

  switch (convert_events(in, out)) {
  case convert_result::ok:
    break;
  case convert_result::read_failed:
    put_format(stderr, "%s: Error reading %s\n", prog, inpath);
    fail(in, out);
  case convert_result::write_failed:
    put_format(stderr, "%s: Error writing %s\n", prog, outpath);
    fail(in, out);
  }
  std::fclose(in);
  // The last chance to hear of a lost write; success must not be claimed past it.
  if (close_output(out) != 0) {
    put_format(stderr, "%s: Error writing %s\n", prog, outpath);
    std::exit(1);
  }
  std::exit(0);
}
