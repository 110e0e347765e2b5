// The platform layer on POSIX systems: the command line, text on a stream
// and its colours, the input, its shared lock and its memory, and the direct writes that start and
// patch the output's header. Paths are bytes and pass through as they are. The output's life is in
// platform_posix_output.cpp.
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

void platform_start(int *, char ***) {}

bool put_text(std::FILE *stream, const char *text, std::size_t n) {
  return std::fwrite(text, 1, n, stream) == n;
}

std::FILE *open_input(const char *path, bool *directory) {
  std::FILE *in = std::fopen(path, "rb");
  struct stat st;
  bool is_dir = in != nullptr ? fstat(fileno(in), &st) == 0 && S_ISDIR(st.st_mode)
                              : stat(path, &st) == 0 && S_ISDIR(st.st_mode);
  if (directory != nullptr) {
    *directory = is_dir;
  }
  if (in != nullptr && is_dir) {
    std::fclose(in);
    return nullptr;
  }
  return in;
}

bool colors_text(std::FILE *stream) {
  const char *term = std::getenv("TERM");
  return isatty(fileno(stream)) && term != nullptr && std::strcmp(term, "dumb") != 0;
}

bool input_size(std::FILE *in, std::uint64_t *size) {
  struct stat st;
  if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

void advise_large_input([[maybe_unused]] void *data, [[maybe_unused]] std::size_t size) {
#ifdef MADV_HUGEPAGE
  // Only whole pages may be advised: the ones inside the block.
  long page_size = sysconf(_SC_PAGESIZE);
  if (page_size <= 0) {
    return;
  }
  auto page = static_cast<std::uintptr_t>(page_size);
  auto start = reinterpret_cast<std::uintptr_t>(data);
  std::uintptr_t first = (start + page - 1) / page * page, end = (start + size) / page * page;
  if (end > first) {
    madvise(reinterpret_cast<void *>(first), end - first, MADV_HUGEPAGE);
  }
#endif
}

bool has_other_names(std::FILE *in) {
  struct stat st;
  return fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1;
}

void lock_input(std::FILE *in) {
  struct stat st;
  if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode)) {
    // Waiting may take long; an interrupt ends the run, which has nothing
    // to clean up yet. An error (no locks here) reads without one.
    while (flock(fileno(in), LOCK_SH) != 0 && errno == EINTR) {
    }
  }
}

void unlock_input(std::FILE *in) {
  flock(fileno(in), LOCK_UN);
}

void set_binary(std::FILE *) {}

bool write_direct(std::FILE *out, const std::uint8_t *data, std::size_t n) {
  ssize_t written = write(fileno(out), data, n);
  return written >= 0 && static_cast<std::size_t>(written) == n;
}

bool at_file_start(std::FILE *out) {
  return lseek(fileno(out), 0, SEEK_CUR) == 0;
}
