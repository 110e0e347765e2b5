// The POSIX platform layer's paths and descriptors, which keep no state:
// whether two names lead to one file, opening the output through a dangling
// symbolic link, the lock, and the new file that is to replace the output.
// The output's life (platform_posix_output.cpp) builds on them.
#include "platform_posix_paths.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

bool same_file(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void unlink_if_same(const char *path, dev_t dev, ino_t ino) {
  struct stat st;
  if (stat(path, &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
    unlink(path);
  }
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : interrupt_signals) {
    sigaddset(&set, sig);
  }
  return set;
}

// Where a dangling symbolic link at path leads, through any chain of links,
// into link_target. False when path is no link, or its target exists.
static bool dangling_target(const char *path, char (&link_target)[PATH_MAX]) {
  char at[PATH_MAX];
  if (std::strlen(path) >= sizeof at) {
    return false;
  }
  std::strcpy(at, path);
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (lstat(at, &st) != 0) {
      if (errno != ENOENT || depth == 0) {
        return false;
      }
      std::strcpy(link_target, at);
      return true;
    }
    char to[PATH_MAX];
    ssize_t n = S_ISLNK(st.st_mode) ? readlink(at, to, sizeof to - 1) : -1;
    if (n < 0) {
      return false;
    }
    to[n] = '\0';
    // A relative target is read from the link's own directory.
    const char *slash = std::strrchr(at, '/');
    std::size_t dir =
        to[0] == '/' || slash == nullptr ? 0 : static_cast<std::size_t>(slash - at) + 1;
    if (dir + static_cast<std::size_t>(n) >= sizeof at) {
      return false;
    }
    std::memcpy(at + dir, to, static_cast<std::size_t>(n) + 1);
  }
  return false;
}

int open_at(const char *path, char (&link_target)[PATH_MAX], const char **made) {
  constexpr int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  *made = path;
  int fd = open(path, flags | O_EXCL, 0666);
  if (fd >= 0 || errno != EEXIST) {
    return fd;
  }
  if (dangling_target(path, link_target) && (fd = open(link_target, flags | O_EXCL, 0666)) >= 0) {
    *made = link_target;
    return fd;
  }
  *made = nullptr;
  return open(path, flags, 0666);
}

bool lock_exclusive(int fd, const sigset_t &run_mask, bool *waited) {
  *waited = false;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    return true;
  }
  if (errno == EWOULDBLOCK) {
    // Waiting may take long, and Ctrl-C must still end it. The file is the
    // other run's to remove meanwhile, even when this run made it.
    *waited = true;
    sigprocmask(SIG_SETMASK, &run_mask, nullptr);
    int rc = 0;
    while ((rc = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    sigset_t set = interrupt_set();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    if (rc == 0) {
      return true;
    }
  }
  return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS;
}

int make_beside(const char *path, const struct stat &st, char *target, char *fresh,
                std::size_t fresh_size, struct stat *made) {
  if (realpath(path, target) == nullptr ||
      std::snprintf(fresh, fresh_size, "%s.new-XXXXXX", target) >= static_cast<int>(fresh_size)) {
    return -1;
  }
  int fd = mkostemp(fresh, O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  if (fstat(fd, made) != 0 || fchmod(fd, st.st_mode & 07777) != 0) {
    unlink(fresh);
    close(fd);
    return -1;
  }
  if (fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Only root may give a file away; the mode is what matters.
  }
  return fd;
}

bool synced(std::FILE *out) {
  return std::fflush(out) == 0 && (fsync(fileno(out)) == 0 || errno == EINVAL);
}
