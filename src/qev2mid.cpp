// qev2mid: converts a QEV event file into a Standard MIDI File beside it.
#include "event_reader.h"
#include "midi_writer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The extension of path: from its last "." to the end, or "" when there is no
// "." or a directory or drive separator follows it. Never null.
static const char *getext(const char *path) {
  const char *dot = std::strrchr(path, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr || std::strchr(dot, '\\') != nullptr ||
      std::strchr(dot, ':') != nullptr) {
    return "";
  }
  return dot;
}

// path with its extension replaced by ext, newly allocated; null when out of memory.
static char *newext(const char *path, const char *ext) {
  std::size_t stem = std::strlen(path) - std::strlen(getext(path));
  std::size_t extlen = std::strlen(ext);
  char *result = static_cast<char *>(std::malloc(stem + extlen + 1));
  if (result == nullptr) {
    return nullptr;
  }
  std::memcpy(result, path, stem);
  std::memcpy(result + stem, ext, extlen + 1);
  return result;
}

enum class create_result { ok, failed, is_input };

// Opens path for writing as fopen's "wb" would, but refuses to empty the file
// that in is reading: a name ending in ".mid", a link or a file system that
// ignores letter case can all lead back to the input.
static create_result create_output(const char *path, std::FILE *in, std::FILE **out) {
  struct stat in_st;
  if (fstat(fileno(in), &in_st) != 0) {
    return create_result::failed;
  }
  int fd = open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    return create_result::failed;
  }
  struct stat out_st;
  if (fstat(fd, &out_st) != 0) {
    close(fd);
    return create_result::failed;
  }
  if (out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino) {
    close(fd);
    return create_result::is_input;
  }
  // Devices and pipes have nothing to empty, as with fopen.
  if (S_ISREG(out_st.st_mode) && ftruncate(fd, 0) != 0) {
    close(fd);
    return create_result::failed;
  }
  *out = fdopen(fd, "wb");
  if (*out == nullptr) {
    close(fd);
    return create_result::failed;
  }
  return create_result::ok;
}

// Reading a directory as a file fails only at the first read, after the
// output has been created; refuse it before anything is touched.
static std::FILE *open_input(const char *path) {
  std::FILE *in = std::fopen(path, "r");
  if (in == nullptr) {
    return nullptr;
  }
  struct stat st;
  if (fstat(fileno(in), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(in);
    return nullptr;
  }
  return in;
}

// Ends a run whose output exists but is incomplete.
[[noreturn]] static void fail(std::FILE *in, std::FILE *out, const char *outpath) {
  std::fclose(in);
  std::fclose(out);
  unlink(outpath);
  std::exit(1);
}

int main(int argc, char **argv) {
  // Some kernels hand a program started without any words an empty name
  // instead; a message that begins with ": " would name nothing either.
  const char *prog = argc > 0 && argv[0][0] != '\0' ? argv[0] : "qev2mid";
  if (argc != 2) {
    std::fprintf(stderr, "Usage: %s QEV-FILE\n", prog);
    std::exit(1);
  }
  const char *inpath = argv[1];
  std::FILE *in = open_input(inpath);
  if (in == nullptr) {
    std::fprintf(stderr, "%s: File %s not found\n", prog, inpath);
    std::exit(1);
  }
  char *outpath = newext(inpath, ".mid");
  if (outpath == nullptr) {
    std::fprintf(stderr, "%s: Memory overflow\n", prog);
    std::fclose(in);
    std::exit(1);
  }
  std::FILE *out = nullptr;
  switch (create_output(outpath, in, &out)) {
  case create_result::ok:
    break;
  case create_result::is_input:
    std::fprintf(stderr, "%s: Output file %s is the input file\n", prog, outpath);
    std::fclose(in);
    std::exit(1);
  case create_result::failed:
    std::fprintf(stderr, "%s: Error creating %s\n", prog, outpath);
    std::fclose(in);
    std::exit(1);
  }

  if (write_header(out) != 0) {
    std::fprintf(stderr, "%s: Error writing %s\n", prog, outpath);
    fail(in, out, outpath);
  }
  std::uint32_t delta = 0;
  std::uint8_t status = 0, note = 0, velocity = 0;
  int rc = 0;
  while ((rc = parse_cmd(in, &delta, &status, &note, &velocity)) == 0) {
    if (write_cmd(out, delta, status, note, velocity) != 0) {
      std::fprintf(stderr, "%s: Error writing %s\n", prog, outpath);
      fail(in, out, outpath);
    }
  }
  if (rc != -1) {
    std::fprintf(stderr, "%s: Error reading %s\n", prog, inpath);
    fail(in, out, outpath);
  }
  if (write_eot(out) != 0 || fix_header(out) != 0) {
    std::fprintf(stderr, "%s: Error writing %s\n", prog, outpath);
    fail(in, out, outpath);
  }
  std::fclose(in);
  // The last chance to hear of a lost write; success must not be claimed past it.
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "%s: Error writing %s\n", prog, outpath);
    unlink(outpath);
    std::exit(1);
  }
  std::exit(0);
}
