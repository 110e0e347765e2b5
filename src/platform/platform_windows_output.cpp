// The platform layer on Windows: the output's life, with the guarantees it
// has on POSIX, a file that replaces it among them. A LockFileEx makes runs on one output happen
// one after the other, and a failed or interrupted run removes it by its handle.
#include "platform.h"
#include "platform_windows.h"

#include <cstring>

#include <fcntl.h>
#include <io.h>

// A name being deleted cannot be opened until its last handle closes: the
// run tries again, this many times, this far apart. Another run that
// replaces the name while this one waits for the lock is progress and does
// not count.
static constexpr int max_spins = 40;
static constexpr DWORD retry_ms = 25;

// The console control handler runs on a thread of its own while main
// writes. guard orders the two: main holds it while it fails or closes an
// output, and the handler takes it before it touches the output. A run
// over a collection then opens the next.
static SRWLOCK guard = SRWLOCK_INIT;
// A second handle of the output, set while this run owns the output's
// removal. It holds the lock and outlives the stream, as on POSIX.
static HANDLE keep = INVALID_HANDLE_VALUE;
// When the output is replaced: a second handle of the new file beside it,
// through which it is renamed over the output or removed, and the output's
// own path, every link resolved.
static HANDLE fresh = INVALID_HANDLE_VALUE;
static std::wstring target;

// Removes what a failed run started: the new file when it replaces the
// output, else the output.
static void remove_started() {
  remove_through(fresh != INVALID_HANDLE_VALUE ? fresh : keep);
}

static BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    return FALSE;
  }
  AcquireSRWLockExclusive(&guard);
  if (keep != INVALID_HANDLE_VALUE) {
    remove_started();
  }
  // Windows has no death by a signal: this is the code a Ctrl-C ends with.
  ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
}

void install_interrupt_cleanup() {
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

// Drops an output that will not be written: it goes again only if this run
// made it.
static create_result give_up(HANDLE h, HANDLE lock, bool made) {
  if (made) {
    remove_through(lock != INVALID_HANDLE_VALUE ? lock : h);
  }
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
  }
  if (lock != INVALID_HANDLE_VALUE) {
    CloseHandle(lock);
  }
  return create_result::failed;
}

// Starts the file that will replace the output, whose name and lock this
// run holds: beside it, NAME.new-PID-N, so that a rename puts it in place.
// Its handle, with fresh set to a second one, or INVALID_HANDLE_VALUE.
static HANDLE start_fresh(HANDLE output) {
  target = final_path(output);
  if (target.empty()) {
    return INVALID_HANDLE_VALUE;
  }
  std::wstring name = name_beside(output, L"new");
  HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, share_all,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return h;
  }
  if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &fresh, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    remove_through(h);
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

create_result open_output(const char *path, std::FILE *in, std::FILE **out, existing_file what) {
  std::wstring w = widen(path);
  if (w.empty()) {
    return create_result::failed;
  }
  for (int spins = 0; spins < max_spins;) {
    // A file made here is removed again if the run fails before it writes.
    constexpr DWORD access = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
    bool made = true;
    HANDLE h = CreateFileW(w.c_str(), access, share_all, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
      made = false;
      h = CreateFileW(w.c_str(), access, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                      nullptr);
    }
    if (h == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      // Removed meanwhile, or still being deleted by a run that failed.
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_ACCESS_DENIED) {
        Sleep(retry_ms);
        ++spins;
        continue;
      }
      return create_result::failed;
    }
    if (in != nullptr && same_file(h, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in))))) {
      CloseHandle(h);
      return create_result::is_input;
    }
    // The header is patched in place at the end; a pipe or a console would
    // get a second header instead.
    if (GetFileType(h) != FILE_TYPE_DISK) {
      return give_up(h, INVALID_HANDLE_VALUE, made);
    }
    // CREATE_NEW failed because the file was there: it stays as it is.
    if (!made && what == existing_file::keep_it) {
      CloseHandle(h);
      return create_result::exists;
    }
    HANDLE lock = INVALID_HANDLE_VALUE;
    bool waited = false;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &lock, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        !lock_exclusive(lock, &waited)) {
      // A file that another run locked first is that run's to remove.
      return give_up(h, lock, made && !waited);
    }
    bool empty = false;
    if (!still_named(w, h, &empty)) {
      CloseHandle(h);
      CloseHandle(lock);
      spins += waited ? 0 : 1;
      continue;
    }
    // A run that got the lock first may have filled the file made here: it
    // is that run's now, and kept as any existing file is.
    made = made && empty;
    if (!made && what == existing_file::keep_it) {
      CloseHandle(h);
      CloseHandle(lock);
      return create_result::exists;
    }
    bool replacing = !made && what == existing_file::replace_it;
    if (replacing) {
      CloseHandle(h);
      if ((h = start_fresh(lock)) == INVALID_HANDLE_VALUE) {
        return give_up(INVALID_HANDLE_VALUE, lock, false);
      }
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    *out = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (*out == nullptr) {
      if (replacing) {
        remove_through(fresh);
        CloseHandle(fresh);
        fresh = INVALID_HANDLE_VALUE;
      }
      if (fd < 0) {
        CloseHandle(h);
      } else {
        _close(fd);
      }
      return give_up(INVALID_HANDLE_VALUE, lock, made);
    }
    AcquireSRWLockExclusive(&guard);
    keep = lock;
    ReleaseSRWLockExclusive(&guard);
    // Emptied last: every failure before this left the file as it was.
    if (!replacing && !set_size_zero(lock)) {
      AcquireSRWLockExclusive(&guard);
      keep = INVALID_HANDLE_VALUE;
      std::fclose(*out);
      return give_up(INVALID_HANDLE_VALUE, lock, made);
    }
    return create_result::ok;
  }
  return create_result::failed;
}

// Lets go of the output, and of a new file beside it.
static void release() {
  if (fresh != INVALID_HANDLE_VALUE) {
    CloseHandle(fresh);
    fresh = INVALID_HANDLE_VALUE;
  }
  CloseHandle(keep);
  keep = INVALID_HANDLE_VALUE;
}

int close_output(std::FILE *out) {
  AcquireSRWLockExclusive(&guard);
  int rc = std::fclose(out) == 0 ? 0 : -1;
  // The new file's bytes must be on the disk before its name replaces the
  // old one's, or a crash could leave neither.
  if (rc == 0 && fresh != INVALID_HANDLE_VALUE &&
      (!FlushFileBuffers(fresh) || !rename_over(fresh, keep, target))) {
    rc = -1;
  }
  if (rc != 0) {
    remove_started();
  }
  release();
  ReleaseSRWLockExclusive(&guard);
  return rc;
}

void discard_output(std::FILE *out) {
  AcquireSRWLockExclusive(&guard);
  // Closed first, so that no buffered byte lands in the file after it was
  // emptied.
  std::fclose(out);
  remove_started();
  release();
  ReleaseSRWLockExclusive(&guard);
}
