// Holds an exclusive lock on a file, as a run of qev2mid does, from when it
// prints "locked" until its standard input ends. With --remove it then
// removes the file through the platform layer's own removal, as a failed run
// does. Windows only: there the end-to-end cases cannot hold a run mid-way
// through a slow input.
#include "platform/platform_windows.h"

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
  bool remove = argc == 3 && std::strcmp(argv[1], "--remove") == 0;
  if (argc != 2 && !remove) {
    std::fprintf(stderr, "usage: hold_lock [--remove] FILE\n");
    return 2;
  }
  const char *path = argv[argc - 1];
  HANDLE h = CreateFileA(path, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, share_all, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  OVERLAPPED whole{};
  if (h == INVALID_HANDLE_VALUE ||
      !LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    std::fprintf(stderr, "hold_lock: cannot lock %s\n", path);
    return 2;
  }
  std::printf("locked\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  if (remove) {
    remove_through(h);
  }
  CloseHandle(h);
  return 0;
}
