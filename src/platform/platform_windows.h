// What the two halves of the Windows platform layer share: the command line
// and console side, and the output's life.
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

#endif
