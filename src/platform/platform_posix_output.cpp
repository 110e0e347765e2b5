// The platform layer on POSIX systems: the output's life. Opening it without
// harm to what stands at its path, an exclusive flock that makes runs on one
// output happen one after the other, writing a file that replaces it, and
// its removal when a run fails or is interrupted by a signal.
#include "platform.h"
#include "platform_posix_paths.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

// What the interrupt handler may do with the output: nothing; remove a file
// that this run made and has locked but not yet written; or, once the run
// has begun to empty it, empty it and remove its name. The values below it
// are set first.
enum : std::sig_atomic_t { hands_off, made_only, emptying };
static volatile std::sig_atomic_t armed = hands_off;
// A second descriptor of the output. It holds the lock, and it outlives the
// stream, so that fclose can be checked before the lock is let go and the
// file can still be emptied after a failed close. -1 for devices.
static int keep_fd = -1;
static const char *out_path = nullptr;
static dev_t out_dev = 0;
static ino_t out_ino = 0;
// The name of the file this run made, when it made one: the output's path,
// the target of a dangling symbolic link there, or the new file that is to
// replace the output. Null otherwise.
static const char *made_name = nullptr;
static char link_target[PATH_MAX];
// When the output is replaced: the new file's name beside it, and the
// output's own, every symbolic link resolved, so that a link stays a link.
static bool replacing = false;
static char fresh_name[PATH_MAX + 8];
static char target_name[PATH_MAX];

// Another run may replace the name while this one waits for the lock; that
// is progress. Only a name that changes while the lock is free at once, as
// when some process replaces it without locking, counts against this.
static constexpr int max_spins = 8;

// Only async-signal-safe calls, for the interrupt handler. Once emptying,
// the output, which other names (hard links, a symbolic link's target) may
// share, is emptied and this name removed if it still leads to the file;
// a file this run made goes whatever name it has.
static void remove_started() {
  if (armed == emptying) {
    if (ftruncate(keep_fd, 0) != 0) {
      // Nothing more can be done; the name still goes.
    }
    unlink_if_same(out_path, out_dev, out_ino);
  }
  if (made_name != nullptr) {
    unlink_if_same(made_name, out_dev, out_ino);
  }
}

static void on_interrupt(int sig) {
  if (armed != hands_off) {
    remove_started();
  }
  // Die by the same signal, so that the shell sees an interrupt.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  sigaction(sig, &dfl, nullptr);
  raise(sig);
}

// The mask as the run found it, to go back to after a window in which an
// interrupt must wait.
static sigset_t start_mask;

static void block_interrupts() {
  sigset_t set = interrupt_set();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

static void allow_interrupts() {
  sigprocmask(SIG_SETMASK, &start_mask, nullptr);
}

void install_interrupt_cleanup() {
  sigprocmask(SIG_SETMASK, nullptr, &start_mask);
  // A write past the file-size limit, or to a standard error nobody reads,
  // fails like any other write instead of killing the run before it cleans up.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  for (int sig : interrupt_signals) {
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

// Drops an output that will not be written: a file this run made goes
// again, as if it had never been.
static create_result give_up(int fd, int lock_fd, const char *made, const struct stat &st) {
  armed = hands_off;
  if (made != nullptr) {
    unlink_if_same(made, st.st_dev, st.st_ino);
  }
  if (fd >= 0) {
    close(fd);
  }
  if (lock_fd >= 0) {
    close(lock_fd);
  }
  allow_interrupts();
  return create_result::failed;
}

// Starts the file that will replace the output, whose name and lock this
// run holds (see make_beside). The handler removes it from now on. Its
// descriptor, or -1.
static int start_fresh(const char *path, const struct stat &st) {
  struct stat fresh;
  int fd = make_beside(path, st, target_name, fresh_name, sizeof fresh_name, &fresh);
  if (fd >= 0) {
    out_dev = fresh.st_dev;
    out_ino = fresh.st_ino;
    made_name = fresh_name;
    replacing = true;
  }
  return fd;
}

create_result open_output(const char *path, std::FILE *in, std::FILE **out, existing_file what) {
  struct stat in_st;
  if (in != nullptr && fstat(fileno(in), &in_st) != 0) {
    return create_result::failed;
  }
  for (int spins = 0; spins < max_spins;) {
    // Opening a FIFO would wait for a reader, and what went through it could
    // never be rewound to patch the header.
    struct stat st;
    if (stat(path, &st) == 0 && S_ISFIFO(st.st_mode)) {
      return create_result::failed;
    }
    // From the create until the handler is armed, an interrupt waits, so
    // that none can leave behind a file this run made. Nonblocking and
    // without a controlling terminal, so that no open can hang or take over
    // a terminal.
    block_interrupts();
    const char *made = nullptr;
    int fd = open_at(path, link_target, &made);
    if (fd < 0) {
      allow_interrupts();
      return create_result::failed;
    }
    if (fstat(fd, &st) != 0) {
      return give_up(fd, -1, made, st);
    }
    if (in != nullptr && same_file(st, in_st)) {
      close(fd);
      allow_interrupts();
      return create_result::is_input;
    }
    // The header is patched in place at the end; a pipe, a terminal or a
    // socket would get a second header instead.
    bool regular = S_ISREG(st.st_mode);
    // The create above failed because the file was there: it stays as it is.
    if (regular && made == nullptr && what == existing_file::keep_it) {
      close(fd);
      allow_interrupts();
      return create_result::exists;
    }
    int fl = fcntl(fd, F_GETFL);
    if ((!regular && lseek(fd, 0, SEEK_CUR) < 0) || fl < 0 ||
        fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0) {
      return give_up(fd, -1, made, st);
    }
    // Only regular files are locked: /dev/null must not make unrelated runs
    // wait for each other.
    int lock_fd = -1;
    if (regular) {
      bool waited = false;
      lock_fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
      if (lock_fd < 0 || !lock_exclusive(lock_fd, start_mask, &waited)) {
        return give_up(fd, lock_fd, waited ? nullptr : made, st);
      }
      // While this run waited, another may have removed the name or put a new
      // file there; this one must write where the name leads now.
      struct stat now;
      if (stat(path, &now) != 0 || !same_file(now, st) || fstat(fd, &now) != 0) {
        close(fd);
        close(lock_fd);
        allow_interrupts();
        spins += waited ? 0 : 1;
        continue;
      }
      // A run that got the lock first may have filled the file made here:
      // it is that run's now, and kept as any existing file is.
      if (now.st_size != 0) {
        made = nullptr;
      }
      if (made == nullptr && what == existing_file::keep_it) {
        close(fd);
        close(lock_fd);
        allow_interrupts();
        return create_result::exists;
      }
      keep_fd = lock_fd;
      out_path = path;
      out_dev = st.st_dev;
      out_ino = st.st_ino;
      made_name = made;
      armed = made_only;
      if (made == nullptr && what == existing_file::replace_it) {
        close(fd);
        if ((fd = start_fresh(path, st)) < 0) {
          keep_fd = -1;
          made_name = nullptr;
          return give_up(-1, lock_fd, nullptr, st);
        }
      }
    }
    allow_interrupts();
    *out = fdopen(fd, "wb");
    if (*out == nullptr) {
      block_interrupts();
      keep_fd = -1;
      if (replacing) {
        unlink_if_same(fresh_name, out_dev, out_ino);
      }
      return give_up(fd, lock_fd, made, st);
    }
    if (regular && !replacing) {
      armed = emptying;
      // Emptied last: every failure before this left the file as it was.
      if (ftruncate(fd, 0) != 0) {
        block_interrupts();
        armed = hands_off;
        std::fclose(*out);
        keep_fd = -1;
        return give_up(-1, lock_fd, made, st);
      }
    }
    return create_result::ok;
  }
  return create_result::failed;
}

int close_output(std::FILE *out) {
  block_interrupts();
  bool written = !replacing || synced(out);
  int rc = std::fclose(out) == 0 && written ? 0 : -1;
  if (replacing && rc == 0 && rename(fresh_name, target_name) != 0) {
    rc = -1;
  }
  if (keep_fd >= 0) {
    if (rc != 0) {
      remove_started();
    }
    armed = hands_off;
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
    armed = hands_off;
    close(keep_fd);
  }
}
