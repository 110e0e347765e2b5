// A "." followed by a directory or drive separator starts no extension, so
// "dir.x/song" becomes "dir.x/song.mid", on every system alike.
#include "output_path.h"

#include <cstdlib>
#include <cstring>

const char *getext(const char *path) {
  const char *dot = std::strrchr(path, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr || std::strchr(dot, '\\') != nullptr ||
      std::strchr(dot, ':') != nullptr) {
    return "";
  }
  return dot;
}

char *newext(const char *path, const char *ext) {
  std::size_t stem = std::strlen(path) - std::strlen(getext(path));
  std::size_t extlen = std::strlen(ext);
  char *result = static_cast<char *>(std::malloc(stem + extlen + 1));
  if (result == nullptr) {
    return nullptr;
  }
  std::memcpy(result, path, stem);
  std::memcpy(result + stem, ext, extlen + 1);
  return result;
}
