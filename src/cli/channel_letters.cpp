// The channel letters of the command line and the web page.
#include "channel_letters.h"

#include <cstring>

bool parse_drums(const char *letters, std::uint16_t *mask) {
  if (std::strcmp(letters, "none") == 0) {
    *mask = 0;
    return true;
  }
  if (*letters == '\0') {
    return false;
  }
  std::uint16_t channels = 0;
  for (const char *p = letters; *p != '\0'; ++p) {
    if (*p < 'a' || *p > 'p') {
      return false;
    }
    channels = static_cast<std::uint16_t>(channels | 1u << (*p - 'a'));
  }
  *mask = channels;
  return true;
}
