// Holds an exclusive lock on a file, as a run of qev2mid does, from when it
// prints "locked" until its standard input ends. Windows only: there the
// end-to-end cases cannot hold a run mid-way through a slow input.
#include <cstdio>

#include <windows.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: hold_lock FILE\n");
    return 2;
  }
  HANDLE h = CreateFileA(argv[1], GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  OVERLAPPED whole{};
  if (h == INVALID_HANDLE_VALUE ||
      !LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    std::fprintf(stderr, "hold_lock: cannot lock %s\n", argv[1]);
    return 2;
  }
  std::printf("locked\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  CloseHandle(h);
  return 0;
}
