// The Windows platform layer's handles and names, which keep no state:
// whether two handles lead to one file, renames and deletes through a
// handle, and the lock. The output's life (platform_windows_output.cpp)
// builds on them.
#include "platform_windows.h"

#include <cstring>

std::wstring final_path(HANDLE h) {
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
bool same_file(HANDLE a, HANDLE b) {
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

bool set_size_zero(HANDLE h) {
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
std::wstring name_beside(HANDLE h, const wchar_t *what) {
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
bool rename_over(HANDLE from, HANDLE output, const std::wstring &to) {
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

// Whether the name still leads to the file this run holds, which no other
// run has deleted while this one waited for the lock.
bool still_named(const std::wstring &w, HANDLE h, bool *empty) {
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
bool lock_exclusive(HANDLE lock, bool *waited) {
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
