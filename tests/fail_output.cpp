// Preloaded into the program to make one step of the output fail, as named
// by QEV2MID_FAIL: "fclose" fails closing a ".mid" file after the close
// itself, as a network file system does when it reports a lost write only
// then; "fdopen" fails making the output's stream, as when memory runs out.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dlfcn.h>
#include <unistd.h>

static bool failing(const char *step) {
  const char *which = std::getenv("QEV2MID_FAIL");
  return which != nullptr && std::strcmp(which, step) == 0;
}

extern "C" int fclose(FILE *stream) {
  using fclose_fn = int (*)(FILE *);
  static fclose_fn real = reinterpret_cast<fclose_fn>(dlsym(RTLD_NEXT, "fclose"));
  char link[64];
  char target[4096];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
  ssize_t n = readlink(link, target, sizeof target);
  int rc = real(stream);
  if (failing("fclose") && n >= 4 && std::memcmp(target + n - 4, ".mid", 4) == 0) {
    errno = EIO;
    return EOF;
  }
  return rc;
}

extern "C" FILE *fdopen(int fd, const char *mode) {
  using fdopen_fn = FILE *(*)(int, const char *);
  static fdopen_fn real = reinterpret_cast<fdopen_fn>(dlsym(RTLD_NEXT, "fdopen"));
  if (failing("fdopen")) {
    errno = ENOMEM;
    return nullptr;
  }
  return real(fd, mode);
}
