// The whole of an input in memory, the same on every system: mapped where
// the system can, else read to its end, as a pipe must be.
#include "platform.h"

#include <cstdlib>

bool map_input(std::FILE *in, const std::uint8_t **data, std::size_t *size) {
  if (map_regular(in, data, size)) {
    return true;
  }
  static const std::uint8_t none = 0;
  std::uint8_t *buffer = nullptr;
  std::size_t used = 0, room = 0;
  for (;;) {
    if (used == room) {
      room = room == 0 ? 64 * 1024 : room * 2;
      auto *grown = static_cast<std::uint8_t *>(std::realloc(buffer, room));
      if (grown == nullptr) {
        std::free(buffer);
        return false;
      }
      buffer = grown;
    }
    std::size_t got = std::fread(buffer + used, 1, room - used, in);
    used += got;
    if (got == 0) {
      break;
    }
  }
  if (std::ferror(in)) {
    std::free(buffer);
    return false;
  }
  *data = used > 0 ? buffer : &none;
  *size = used;
  return true;
}
