// The platform layer on POSIX systems. Paths are bytes and pass through as
// they are. The output's life: opening it without harm to what stands at its
// path, an exclusive flock that makes runs on one output happen one after
// the other, and its removal when a run fails or is interrupted by a signal.
#include "platform.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// Set while this run holds the lock on a regular output that it has created
// or is emptying, and so owns its removal. The values below it are set first.
static volatile std::sig_atomic_t armed = 0;
// A second descriptor of the output. It holds the lock, and it outlives the
// stream, so that fclose can be checked before the lock is let go and the
// file can still be emptied after a failed close. -1 for devices.
static int keep_fd = -1;
static const char *out_path = nullptr;
static dev_t out_dev = 0;
static ino_t out_ino = 0;

static constexpr int interrupts[] = {SIGINT, SIGTERM, SIGHUP};

// Another run may replace the name while this one waits for the lock.
static constexpr int max_opens = 8;

static bool same_file(const struct stat &a, const struct stat &b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

static void unlink_if_same(const char *path, dev_t dev, ino_t ino) {
  struct stat st;
  if (stat(path, &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
    unlink(path);
  }
}

// Empties the output, which other names (hard links, a symbolic link's
// target) may share, then removes this name if it still leads to the file.
// Only async-signal-safe calls, for the interrupt handler.
static void remove_started() {
  if (ftruncate(keep_fd, 0) != 0) {
    // Nothing more can be done; the name still goes.
  }
  unlink_if_same(out_path, out_dev, out_ino);
}

static void on_interrupt(int sig) {
  if (armed != 0) {
    remove_started();
  }
  // Die by the same signal, so that the shell sees an interrupt.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

static sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : interrupts) {
    sigaddset(&set, sig);
  }
  return set;
}

// From here on main owns the cleanup; the handler must not meet a closed or
// reused descriptor.
static void block_interrupts() {
  sigset_t set = interrupt_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

void platform_start(int *, char ***) {}

std::FILE *open_input(const char *path) {
  std::FILE *in = std::fopen(path, "rb");
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

void install_interrupt_cleanup() {
  // A write past the file-size limit, or to a standard error nobody reads,
  // fails like any other write instead of killing the run before it cleans up.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  for (int sig : interrupts) {
    struct sigaction old {};
    // Under nohup, or in a background job, an ignored signal stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction sa {};
    sa.sa_handler = on_interrupt;
    sa.sa_mask = interrupt_set();
    sigaction(sig, &sa, nullptr);
  }
}

// Waits for the lock. A file system without locks is written without one.
static bool lock_exclusive(int fd) {
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      return errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS;
    }
  }
  return true;
}

// Drops an output that will not be written: its name goes again only if
// this run made the file.
static create_result give_up(const char *path, int fd, int lock_fd, bool made,
                             const struct stat &st) {
  if (made) {
    unlink_if_same(path, st.st_dev, st.st_ino);
  }
  if (fd >= 0) {
    close(fd);
  }
  if (lock_fd >= 0) {
    close(lock_fd);
  }
  return create_result::failed;
}

create_result open_output(const char *path, std::FILE *in, std::FILE **out) {
  struct stat in_st;
  if (fstat(fileno(in), &in_st) != 0) {
    return create_result::failed;
  }
  for (int attempt = 0; attempt < max_opens; ++attempt) {
    // Opening a FIFO would wait for a reader, and what went through it could
    // never be rewound to patch the header.
    struct stat st;
    if (stat(path, &st) == 0 && S_ISFIFO(st.st_mode)) {
      return create_result::failed;
    }
    // Nonblocking and without a controlling terminal, so that no open can hang
    // or take over a terminal. A file made here is removed again if the run
    // fails before it writes, as if it had never been.
    constexpr int flags = O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    bool made = true;
    int fd = open(path, flags | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
      made = false;
      fd = open(path, flags, 0666);
    }
    if (fd < 0) {
      return create_result::failed;
    }
    if (fstat(fd, &st) != 0) {
      return give_up(path, fd, -1, made, st);
    }
    if (same_file(st, in_st)) {
      close(fd);
      return create_result::is_input;
    }
    // The header is patched in place at the end; a pipe, a terminal or a
    // socket would get a second header instead.
    bool regular = S_ISREG(st.st_mode);
    int fl = fcntl(fd, F_GETFL);
    if ((!regular && lseek(fd, 0, SEEK_CUR) < 0) || fl < 0 ||
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
      return give_up(path, fd, -1, made, st);
    }
    // Only regular files are locked: /dev/null must not make unrelated runs
    // wait for each other.
    int lock_fd = -1;
    if (regular) {
      lock_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (lock_fd < 0 || !lock_exclusive(lock_fd)) {
        return give_up(path, fd, lock_fd, made, st);
      }
      // While this run waited, another may have removed the name or put a new
      // file there; this one must write where the name leads now.
      struct stat now;
      if (stat(path, &now) != 0 || !same_file(now, st) || fstat(fd, &now) != 0) {
        close(fd);
        close(lock_fd);
        continue;
      }
      // A run that got the lock first may have filled the file made here.
      made = made && now.st_size == 0;
    }
    *out = fdopen(fd, "wb");
    if (*out == nullptr) {
      return give_up(path, fd, lock_fd, made, st);
    }
    if (regular) {
      keep_fd = lock_fd;
      out_path = path;
      out_dev = st.st_dev;
      out_ino = st.st_ino;
      armed = 1;
      // Emptied last: every failure before this left the file as it was.
      if (ftruncate(fd, 0) != 0) {
        block_interrupts();
        armed = 0;
        std::fclose(*out);
        keep_fd = -1;
        return give_up(path, -1, lock_fd, made, st);
      }
    }
    return create_result::ok;
  }
  return create_result::failed;
}

int close_output(std::FILE *out) {
  block_interrupts();
  int rc = std::fclose(out) == 0 ? 0 : -1;
  if (keep_fd >= 0) {
    if (rc != 0) {
      remove_started();
    }
    armed = 0;
    close(keep_fd);
  }
  return rc;
}

void discard_output(std::FILE *out) {
  block_interrupts();
  // Closed first, so that no buffered byte lands in the file after it was
  // emptied.
  std::fclose(out);
  if (keep_fd >= 0) {
    remove_started();
    armed = 0;
    close(keep_fd);
  }
}

bool write_direct(std::FILE *out, const std::uint8_t *data, std::size_t n) {
  ssize_t written = write(fileno(out), data, n);
  return written >= 0 && static_cast<std::size_t>(written) == n;
}

bool at_file_start(std::FILE *out) {
  return lseek(fileno(out), 0, SEEK_CUR) == 0;
}
