// Preloaded into the program to make one step of the output fail, as named
// by QEV2MID_FAIL:
// - "fclose" fails closing a ".mid" file after the close itself, as a
//   network file system does when it reports a lost write only then;
// - "fdopen" fails making the output's stream, as when memory runs out;
// - "fflush" fails the flush of a ".mid" stream that finishes the file,
//   leaving nothing else amiss;
// - "rewind" leaves a ".mid" stream where it is, as a device that cannot
//   seek would;
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
  int rc = next(stream);
  if (failing("fclose") && mid) {
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

extern "C" int flock(int fd, int operation) {
  static auto next = real<int (*)(int, int)>("flock");
  if (failing("slow-flock")) {
    sleep(1);
  }
  return next(fd, operation);
}
