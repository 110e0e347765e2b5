// qev2mid: converts a QEV event file into a Standard MIDI File beside it.
#include "midi/midi_writer.h"
#include "output_path.h"
#include "platform/platform.h"
#include "put_format.h"
#include "qev/event_reader.h"

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
  // Some kernels hand a program started without any words an empty name
  // instead; a message that begins with ": " would name nothing either.
  const char *prog = argc > 0 && argv[0][0] != '\0' ? argv[0] : "qev2mid";
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
  switch (open_output(outpath, in, &out)) {
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

  if (write_header(out) != 0) {
    put_format(stderr, "%s: Error writing %s\n", prog, outpath);
    fail(in, out);
  }
  std::uint32_t delta = 0;
  std::uint8_t status = 0, note = 0, velocity = 0;
  int rc = 0;
  while ((rc = parse_cmd(in, &delta, &status, &note, &velocity)) == 0) {
    if (write_cmd(out, delta, status, note, velocity) != 0) {
      put_format(stderr, "%s: Error writing %s\n", prog, outpath);
      fail(in, out);
    }
  }
  if (rc != -1) {
    put_format(stderr, "%s: Error reading %s\n", prog, inpath);
    fail(in, out);
  }
  if (write_eot(out) != 0 || fix_header(out) != 0) {
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
