// Starts a program with no command-line words at all, not even its name.
#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: argc0 PROGRAM\n");
    return 2;
  }
  char *none[] = {nullptr};
  execve(argv[1], none, environ);
  std::perror("argc0: execve");
  return 2;
}
