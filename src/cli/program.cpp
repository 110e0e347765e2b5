// The programs' name in messages and the checked close of standard output.
#include "program.h"

#include <cstdio>

const char *program_name(int argc, char *const *argv, const char *fallback) {
  return argc > 0 && argv[0] != nullptr && argv[0][0] != '\0' ? argv[0] : fallback;
}

bool close_stdout() {
  // fclose alone may flush without telling of an earlier failed write.
  bool ok = std::fflush(stdout) == 0 && !std::ferror(stdout);
  return std::fclose(stdout) == 0 && ok;
}
