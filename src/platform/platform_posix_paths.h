// What the POSIX platform layer's output keeps no state for: names,
// descriptors, the lock and the signals that interrupt a run.
#ifndef QEV2MID_PLATFORM_POSIX_PATHS_H
#define QEV2MID_PLATFORM_POSIX_PATHS_H

#include <array>
#include <climits>
#include <csignal>
#include <cstddef>
#include <cstdio>

#include <sys/stat.h>

// The signals that interrupt a run, which then removes what it started.
inline constexpr std::array<int, 3> interrupt_signals = {SIGINT, SIGTERM, SIGHUP};
sigset_t interrupt_set();

bool same_file(const struct stat &a, const struct stat &b);

// Removes path if it still leads to the file dev and ino name. Only
// async-signal-safe calls, for the interrupt handler.
void unlink_if_same(const char *path, dev_t dev, ino_t ino);

// Creates or opens the output. *made names the file when this run created
// it: O_EXCL fails on any symbolic link, so a dangling one's target is
// created through its own name, into link_target, which tells.
int open_at(const char *path, char (&link_target)[PATH_MAX], const char **made);

// Takes the lock: at once, or after waiting for another run, which *waited
// then says. The wait runs under run_mask, so that Ctrl-C can still end it,
// and the interrupts are blocked again after it. A file system without locks
// is written without one.
bool lock_exclusive(int fd, const sigset_t &run_mask, bool *waited);

// Starts the file that will replace the output at path, whose name and lock
// this run holds: beside it, so that a rename can put it in place, with the
// output's mode (st) and, where this run may give them, its owner and group.
// target (PATH_MAX bytes) gets the output's own path, every symbolic link
// resolved, so that a link stays a link; fresh the new file's name, and
// *made its status. Its descriptor, or -1.
int make_beside(const char *path, const struct stat &st, char *target, char *fresh,
                std::size_t fresh_size, struct stat *made);

// Whether the new file's bytes are on the disk: its name must not replace
// the old one's before they are, or a crash could leave neither. A file
// system that cannot sync says so with EINVAL.
bool synced(std::FILE *out);

#endif
