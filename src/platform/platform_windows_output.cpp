// The platform layer on Windows: the output's life, with the guarantees it
// has on POSIX. A LockFileEx makes runs on one output happen one after the
// other, and a failed or interrupted run removes it by its handle.
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

// Takes the file's name away through its handle: a unique name beside it,
// NAME.deleting-PID-N, which is gone again when the last handle closes.
static bool rename_away(HANDLE h) {
  static LONG count = 0;
  std::wstring path = final_path(h);
  if (path.empty()) {
    return false;
  }
  path += L".deleting-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
          std::to_wstring(InterlockedIncrement(&count));
  std::size_t size = sizeof(FILE_RENAME_INFO) + path.size() * sizeof(wchar_t);
  std::string buffer(size, '\0');
  auto *rename = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(path.size() * sizeof(wchar_t));
  std::memcpy(rename->FileName, path.c_str(), path.size() * sizeof(wchar_t));
  return SetFileInformationByHandle(h, FileRenameInfo, rename, static_cast<DWORD>(size)) != 0;
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

static BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
    return FALSE;
  }
  AcquireSRWLockExclusive(&guard);
  if (keep != INVALID_HANDLE_VALUE) {
    remove_through(keep);
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

create_result open_output(const char *path, std::FILE *in, std::FILE **out, bool replace) {
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
    if (!made && !replace) {
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
    // A run that got the lock first may have filled the file made here.
    made = made && empty;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
      return give_up(h, lock, made);
    }
    *out = _fdopen(fd, "wb");
    if (*out == nullptr) {
      _close(fd);
      return give_up(INVALID_HANDLE_VALUE, lock, made);
    }
    AcquireSRWLockExclusive(&guard);
    keep = lock;
    ReleaseSRWLockExclusive(&guard);
    // Emptied last: every failure before this left the file as it was.
    if (!set_size_zero(lock)) {
      AcquireSRWLockExclusive(&guard);
      keep = INVALID_HANDLE_VALUE;
      std::fclose(*out);
      return give_up(INVALID_HANDLE_VALUE, lock, made);
    }
    return create_result::ok;
  }
  return create_result::failed;
}

int close_output(std::FILE *out) {
  AcquireSRWLockExclusive(&guard);
  int rc = std::fclose(out) == 0 ? 0 : -1;
  if (rc != 0) {
    remove_through(keep);
  }
  CloseHandle(keep);
  keep = INVALID_HANDLE_VALUE;
  return rc;
}

void discard_output(std::FILE *out) {
  AcquireSRWLockExclusive(&guard);
  // Closed first, so that no buffered byte lands in the file after it was
  // emptied.
  std::fclose(out);
  remove_through(keep);
  CloseHandle(keep);
  keep = INVALID_HANDLE_VALUE;
}
