// What the parts of the Windows platform layer share: the command line and
// console side, the handles and names, and the output's life.
#ifndef QEV2MID_PLATFORM_WINDOWS_H
#define QEV2MID_PLATFORM_WINDOWS_H

#include <string>

#include <windows.h>

inline constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A UTF-8 path as the system takes it; empty when it is not valid UTF-8.
std::wstring widen(const char *utf8);

// Empties a file and deletes it through its handle, first taking its name
// away, so that nothing can open it by that name while it is going.
void remove_through(HANDLE h);

// The path the system resolves a handle's file to, every link followed;
// empty when it cannot tell.
std::wstring final_path(HANDLE h);

// Whether two handles lead to one file.
bool same_file(HANDLE a, HANDLE b);

// Cuts the file to nothing.
bool set_size_zero(HANDLE h);

// A unique name beside the file: NAME.WHAT-PID-N.
std::wstring name_beside(HANDLE h, const wchar_t *what);

// Puts the file held by from in the place of output, whose path is to.
bool rename_over(HANDLE from, HANDLE output, const std::wstring &to);

// Whether the name w still leads to the file held by h, which no other run
// has deleted while this one waited for the lock; *empty says whether the
// file is empty.
bool still_named(const std::wstring &w, HANDLE h, bool *empty);

// Takes the lock: at once, or after waiting for another run, which *waited
// then says. A file system without locks is written without one.
bool lock_exclusive(HANDLE lock, bool *waited);

#endif
