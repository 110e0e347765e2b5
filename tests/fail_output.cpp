// Preloaded into the program to make one step of the output fail, as named
// by QEV2MID_FAIL:
// - "fclose" fails closing a ".mid" file after the close itself, as a
//   network file system does when it reports a lost write only then;
//   "fclose-stdout" does the same to standard output;
// - "fdopen" fails making the output's stream, as when memory runs out;
// - "fflush" fails the flush of a ".mid" stream that finishes the file,
//   leaving nothing else amiss;
// - "rewind" leaves a ".mid" stream where it is, as a device that cannot
//   seek would;
// - "short-write" writes all but the last byte of a direct write to a
//   ".mid" file, as a full disk may;
// - "fsync" and "rename" fail, as a disk that fails and a file system that
//   cannot rename over a file do;
// - "slow-flock" makes every flock take a second, a window in which a
//   signal can arrive between creating the output and locking it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <sys/file.h>
#include <unistd.h>

static bool failing(const char *step) {
  const char *which = std::getenv("QEV2MID_FAIL");
  return which != nullptr && std::strcmp(which, step) == 0;
}

template <class Fn> static Fn real(const char *name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// Whether the descriptor is open on a ".mid" file.
static bool is_mid(int fd) {
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, target, sizeof target);
  return n >= 4 && std::memcmp(target + n - 4, ".mid", 4) == 0;
}

extern "C" int fclose(FILE *stream) {
  static auto next = real<int (*)(FILE *)>("fclose");
  bool mid = is_mid(fileno(stream));
  bool out = fileno(stream) == 1;
  int rc = next(stream);
  if ((failing("fclose") && mid) || (failing("fclose-stdout") && out)) {
    errno = EIO;
    return EOF;
  }
  return rc;
}

extern "C" FILE *fdopen(int fd, const char *mode) {
  static auto next = real<FILE *(*)(int, const char *)>("fdopen");
  if (failing("fdopen")) {
    errno = ENOMEM;
    return nullptr;
  }
  return next(fd, mode);
}

extern "C" int fflush(FILE *stream) {
  static auto next = real<int (*)(FILE *)>("fflush");
  if (failing("fflush") && stream != nullptr && is_mid(fileno(stream))) {
    errno = EIO;
    return EOF;
  }
  return next(stream);
}

extern "C" void rewind(FILE *stream) {
  static auto next = real<void (*)(FILE *)>("rewind");
  if (failing("rewind") && is_mid(fileno(stream))) {
    return;
  }
  next(stream);
}

extern "C" ssize_t write(int fd, const void *data, size_t n) {
  static auto next = real<ssize_t (*)(int, const void *, size_t)>("write");
  if (failing("short-write") && n > 1 && is_mid(fd)) {
    --n;
  }
  return next(fd, data, n);
}

extern "C" int fsync(int fd) {
  static auto next = real<int (*)(int)>("fsync");
  if (failing("fsync")) {
    errno = EIO;
    return -1;
  }
  return next(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept {
  static auto next = real<int (*)(const char *, const char *)>("rename");
  if (failing("rename")) {
    errno = EXDEV;
    return -1;
  }
  return next(from, to);
}

extern "C" int flock(int fd, int operation) {
  static auto next = real<int (*)(int, int)>("flock");
  if (failing("slow-flock")) {
    sleep(1);
  }
  return next(fd, operation);
}
