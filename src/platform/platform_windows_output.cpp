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
// writes. guard orders the two: main takes it for good once it is failing or
// closing, and the handler takes it before it touches the output.
static SRWLOCK guard = SRWLOCK_INIT;
// A second handle of the output, set while this run owns the output's
// removal. It holds the lock and outlives the stream, as on POSIX.
static HANDLE keep = INVALID_HANDLE_VALUE;
// When the output is replaced: a second handle of the new file beside it,
// through which it is renamed over the output or removed, and the output's
// own path, every link resolved.
static HANDLE fresh = INVALID_HANDLE_VALUE;
static std::wstring target;

static std::wstring final_path(HANDLE h) {
  DWORD n = GetFinalPathNameByHandleW(h, nullptr, 0, FILE_NAME_NORMALIZED);
  if (n == 0) {
    return {};
  }
  std::wstring p(n, L'\0');
  n = GetFinalPathNameByHandleW(h, p.data(), n, FILE_NAME_NORMALIZED);
  p.resize(n);
  return p;
}

// Two handles lead to one file when the volume and the 128-bit file ID
// agree. Where the file system gives no such ID, the paths the system
// resolves them to are compared, ignoring case as the file system may.
static bool same_file(HANDLE a, HANDLE b) {
  FILE_ID_INFO ia, ib;
  static constexpr FILE_ID_128 no_id{};
  if (GetFileInformationByHandleEx(a, FileIdInfo, &ia, sizeof ia) &&
      GetFileInformationByHandleEx(b, FileIdInfo, &ib, sizeof ib) &&
      std::memcmp(&ia.FileId, &no_id, sizeof no_id) != 0) {
    return ia.VolumeSerialNumber == ib.VolumeSerialNumber &&
           std::memcmp(&ia.FileId, &ib.FileId, sizeof ia.FileId) == 0;
  }
  std::wstring pa = final_path(a), pb = final_path(b);
  return !pa.empty() && CompareStringOrdinal(pa.c_str(), -1, pb.c_str(), -1, TRUE) == CSTR_EQUAL;
}

static bool set_size_zero(HANDLE h) {
  FILE_END_OF_FILE_INFO end{};
  return SetFileInformationByHandle(h, FileEndOfFileInfo, &end, sizeof end) != 0;
}

// Renames a file through its handle. With POSIX semantics (FileRenameInfoEx,
// which Debian's MinGW headers declare only for a later Windows than they
// target), a file replaced may still be open elsewhere; without them, one
// that is open cannot be replaced.
static bool rename_to(HANDLE h, const std::wstring &to, bool posix_replace) {
  std::size_t size = sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t);
  std::string buffer(size, '\0');
  auto *rename = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, to.c_str(), to.size() * sizeof(wchar_t));
  if (!posix_replace) {
    return SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(size)) != 0;
  }
  constexpr auto rename_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
  constexpr DWORD replace_if_exists = 0x1, posix_semantics = 0x2;
  constexpr DWORD flags = replace_if_exists | posix_semantics;
  std::memcpy(buffer.data(), &flags, sizeof flags); // the Flags beside ReplaceIfExists
  return SetFileInformationByHandle(h, rename_info_ex, rename, static_cast<DWORD>(size)) != 0;
}

// A unique name beside the file: NAME.WHAT-PID-N.
static std::wstring name_beside(HANDLE h, const wchar_t *what) {
  static LONG count = 0;
  std::wstring path = final_path(h);
  return path.empty() ? path
                      : path + L"." + what + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                            std::to_wstring(InterlockedIncrement(&count));
}

// Takes the file's name away through its handle: a unique name beside it,
// NAME.deleting-PID-N, which is gone again when the last handle closes.
static bool rename_away(HANDLE h) {
  std::wstring path = name_beside(h, L"deleting");
  return !path.empty() && rename_to(h, path, false);
}

// Empties the file, which other names may share, then deletes it through its
// handle. A run waiting for the lock must not find the doomed file by its
// name, and whether a name is being deleted cannot be told on every system
// (Wine reports no pending delete even to the handle that set it): so the
// name goes at once, by POSIX semantics where the file system has them, or
// else by a rename before the delete.
void remove_through(HANDLE h) {
  set_size_zero(h);
  // FileDispositionInfoEx with its DELETE and POSIX_SEMANTICS flags, which
  // Debian's MinGW headers declare only for a later Windows than they target.
  constexpr auto disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
  DWORD posix = 0x1 | 0x2;
  if (SetFileInformationByHandle(h, disposition_info_ex, &posix, sizeof posix)) {
    return;
  }
  rename_away(h);
  FILE_DISPOSITION_INFO gone{};
  gone.DeleteFile = TRUE;
  SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone);
}

// Puts the new file in the output's place, both held by handles: in one
// step where the system has POSIX semantics. Elsewhere the output, which is
// open, cannot be replaced, so it steps aside first, to NAME.old-PID-N, and
// is deleted once the new file has its name, or takes its name back.
static bool rename_over(HANDLE from, HANDLE output, const std::wstring &to) {
  if (rename_to(from, to, true)) {
    return true;
  }
  std::wstring aside = name_beside(output, L"old");
  if (aside.empty() || !rename_to(output, aside, false)) {
    return false;
  }
  if (!rename_to(from, to, false)) {
    rename_to(output, to, false);
    return false;
  }
  FILE_DISPOSITION_INFO gone{};
  gone.DeleteFile = TRUE;
  SetFileInformationByHandle(output, FileDispositionInfo, &gone, sizeof gone);
  return true;
}

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

// Whether the name still leads to the file this run holds, which no other
// run has deleted while this one waited for the lock.
static bool still_named(const std::wstring &w, HANDLE h, bool *empty) {
  FILE_STANDARD_INFO st;
  if (!GetFileInformationByHandleEx(h, FileStandardInfo, &st, sizeof st) || st.DeletePending) {
    return false;
  }
  *empty = st.EndOfFile.QuadPart == 0;
  HANDLE now = CreateFileW(w.c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (now == INVALID_HANDLE_VALUE) {
    return false;
  }
  bool same = same_file(now, h);
  CloseHandle(now);
  return same;
}

// Takes the lock: at once, or after waiting for another run, which *waited
// then says. A file system without locks is written without one.
static bool lock_exclusive(HANDLE lock, bool *waited) {
  OVERLAPPED whole{};
  *waited = false;
  if (LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                 &whole)) {
    return true;
  }
  if (GetLastError() == ERROR_LOCK_VIOLATION) {
    *waited = true;
    if (LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
      return true;
    }
  }
  return GetLastError() == ERROR_NOT_SUPPORTED || GetLastError() == ERROR_INVALID_FUNCTION;
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
    if (same_file(h, reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(in))))) {
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
  return rc;
}

void discard_output(std::FILE *out) {
  AcquireSRWLockExclusive(&guard);
  // Closed first, so that no buffered byte lands in the file after it was
  // emptied.
  std::fclose(out);
  remove_started();
  release();
}
