// The platform layer on Windows: the command line, the console, and the
// input and its shared lock. Paths travel as UTF-8 and reach the system as UTF-16, so any name
// works whatever the code page. The output's life is in
// platform_windows_output.cpp.
#include "platform_windows.h"
#include "platform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

std::wstring widen(const char *utf8) {
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
}

// msvcrt's text path garbles UTF-8 on a console whatever its code page;
// WriteConsoleW does not.
bool put_text(std::FILE *stream, const char *text, std::size_t n) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) {
    return std::fwrite(text, 1, n, stream) == n;
  }
  std::fflush(stream);
  int size = static_cast<int>(n);
  int wn = MultiByteToWideChar(CP_UTF8, 0, text, size, nullptr, 0);
  std::wstring w(static_cast<std::size_t>(wn), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, size, w.data(), wn);
  DWORD written = 0;
  return WriteConsoleW(h, w.data(), static_cast<DWORD>(w.size()), &written, nullptr) &&
         written == w.size();
}

// A console takes escape sequences only once asked to process them, which
// consoles before Windows 10 refuse.
bool colors_text(std::FILE *stream) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) &&
         ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
          SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
}

// Opened with every kind of sharing, so that the output, even when it turns
// out to be this very file, can still be opened and compared. A directory
// cannot be opened this way at all, so it is told apart by its attributes.
std::FILE *open_input(const char *path, bool *directory) {
  std::wstring w = widen(path);
  if (directory != nullptr) {
    DWORD attributes = w.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(w.c_str());
    *directory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }
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

static HANDLE handle_of(std::FILE *stream) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

bool input_size(std::FILE *in, std::uint64_t *size) {
  HANDLE h = handle_of(in);
  LARGE_INTEGER length{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &length)) {
    return false;
  }
  *size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

// Large pages need a privilege that a user's process does not hold.
void advise_large_input(void *, std::size_t) {}

bool has_other_names(std::FILE *in) {
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE h = handle_of(in);
  return GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) &&
         info.nNumberOfLinks > 1;
}

// A shared LockFileEx waits while a run that writes the file holds it
// exclusively, as flock does on POSIX.
void lock_input(std::FILE *in) {
  HANDLE h = handle_of(in);
  OVERLAPPED whole{};
  if (GetFileType(h) == FILE_TYPE_DISK) {
    LockFileEx(h, 0, 0, MAXDWORD, MAXDWORD, &whole);
  }
}

void unlock_input(std::FILE *in) {
  OVERLAPPED whole{};
  UnlockFileEx(handle_of(in), 0, MAXDWORD, MAXDWORD, &whole);
}

// The C runtime would turn LF into CR LF on the way out, and on the way in
// drop CRs and stop at 0x1A.
void set_binary(std::FILE *stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

bool write_direct(std::FILE *out, const std::uint8_t *data, std::size_t n) {
  int written = _write(_fileno(out), data, static_cast<unsigned>(n));
  return written >= 0 && static_cast<std::size_t>(written) == n;
}

bool at_file_start(std::FILE *out) {
  return _lseeki64(_fileno(out), 0, SEEK_CUR) == 0;
}
