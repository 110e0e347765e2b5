// The platform layer on Windows. Paths travel as UTF-8 and reach the system as
// UTF-16, so any name works whatever the code page. The output gets the same
// guarantees as on POSIX: a LockFileEx makes runs on one output happen one
// after the other, and a failed or interrupted run removes it by its handle.
#include "platform.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

static constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Another run may replace the name while this one waits for the lock, and a
// name being deleted cannot be opened until its last handle closes.
static constexpr int max_opens = 40;
static constexpr DWORD retry_ms = 25;

// The console control handler runs on a thread of its own while main
// writes. guard orders the two: main takes it for good once it is failing or
// closing, and the handler takes it before it touches the output.
static SRWLOCK guard = SRWLOCK_INIT;
// A second handle of the output, set while this run owns the output's
// removal. It holds the lock and outlives the stream, as on POSIX.
static HANDLE keep = INVALID_HANDLE_VALUE;
static UINT console_cp = 0;

static std::wstring widen(const char *utf8) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, nullptr, 0);
  if (n <= 0) {
    return {};
  }
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, -1, w.data(), n);
  w.resize(static_cast<std::size_t>(n) - 1);
  return w;
}

static char *narrow(const wchar_t *w) {
  int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 0) {
    return nullptr;
  }
  auto *s = static_cast<char *>(std::malloc(static_cast<std::size_t>(n)));
  if (s != nullptr) {
    WideCharToMultiByte(CP_UTF8, 0, w, -1, s, n, nullptr, nullptr);
  }
  return s;
}

void platform_start(int *argc, char ***argv) {
  int n = 0;
  wchar_t **wargv = CommandLineToArgvW(GetCommandLineW(), &n);
  if (wargv == nullptr) {
    return;
  }
  auto **args = static_cast<char **>(std::calloc(static_cast<std::size_t>(n) + 1, sizeof(char *)));
  for (int i = 0; args != nullptr && i < n; ++i) {
    if ((args[i] = narrow(wargv[i])) == nullptr) {
      args = nullptr;
    }
  }
  LocalFree(wargv);
  if (args == nullptr) {
    return;
  }
  *argc = n;
  *argv = args;
  // Messages carry names in UTF-8: a console shows them so until the end.
  if (GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR ||
      GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_CHAR) {
    console_cp = GetConsoleOutputCP();
    if (console_cp != 0 && SetConsoleOutputCP(CP_UTF8)) {
      std::atexit([] { SetConsoleOutputCP(console_cp); });
    }
  }
}

// Opened with every kind of sharing, so that the output, even when it turns
// out to be this very file, can still be opened and compared.
std::FILE *open_input(const char *path) {
  std::wstring w = widen(path);
  if (w.empty()) {
    return nullptr;
  }
  HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION info;
  int fd = -1;
  if (!GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      (fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY)) < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE *in = _fdopen(fd, "rb");
  if (in == nullptr) {
    _close(fd);
  }
  return in;
}

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

// Empties the file, which other names may share, then deletes it through its
// handle: it goes when its last handle closes, whatever name it has by then.
static void remove_through(HANDLE h) {
  set_size_zero(h);
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

create_result open_output(const char *path, std::FILE *in, std::FILE **out) {
  std::wstring w = widen(path);
  if (w.empty()) {
    return create_result::failed;
  }
  for (int attempt = 0; attempt < max_opens; ++attempt) {
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
    HANDLE lock = INVALID_HANDLE_VALUE;
    OVERLAPPED whole{};
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &lock, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        (!LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) &&
         GetLastError() != ERROR_NOT_SUPPORTED && GetLastError() != ERROR_INVALID_FUNCTION)) {
      return give_up(h, lock, made);
    }
    bool empty = false;
    if (!still_named(w, h, &empty)) {
      CloseHandle(h);
      CloseHandle(lock);
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

bool write_direct(std::FILE *out, const std::uint8_t *data, std::size_t n) {
  int written = _write(_fileno(out), data, static_cast<unsigned>(n));
  return written >= 0 && static_cast<std::size_t>(written) == n;
}

bool at_file_start(std::FILE *out) {
  return _lseeki64(_fileno(out), 0, SEEK_CUR) == 0;
}
