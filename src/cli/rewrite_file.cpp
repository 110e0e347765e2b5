// A file rewritten through the platform's output, which replaces it by a
// rename only once the new one is complete.
#include "rewrite_file.h"

#include "platform/platform.h"

#include <cerrno>
#include <cstdio>

rewrite_result rewrite_file(const char *path, const std::string &bytes, int *error) {
  errno = 0;
  std::FILE *now = std::fopen(path, "rb");
  bool other_names = now != nullptr && has_other_names(now);
  if (now != nullptr) {
    std::fclose(now);
  }
  if (other_names) {
    *error = 0;
    return rewrite_result::other_names;
  }
  std::FILE *out = nullptr;
  if (open_output(path, nullptr, &out, existing_file::replace_it) != create_result::ok) {
    *error = errno;
    return rewrite_result::failed;
  }
  if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fflush(out) != 0) {
    *error = errno;
    discard_output(out);
    return rewrite_result::failed;
  }
  if (close_output(out) != 0) {
    *error = errno;
    return rewrite_result::failed;
  }
  return rewrite_result::ok;
}
