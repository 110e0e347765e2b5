// Formats into a buffer on the stack, or on the heap for long names, so that
// the text reaches the stream in one piece.
#include "put_format.h"

#include "platform/platform.h"

#include <cstdarg>
#include <cstdlib>

bool put_format(std::FILE *stream, const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  char small[512];
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  bool ok = n >= 0;
  if (ok && static_cast<std::size_t>(n) < sizeof small) {
    ok = put_text(stream, small, static_cast<std::size_t>(n));
  } else if (ok) {
    auto size = static_cast<std::size_t>(n) + 1;
    auto *text = static_cast<char *>(std::malloc(size));
    ok = text != nullptr && std::vsnprintf(text, size, format, again) == n &&
         put_text(stream, text, size - 1);
    std::free(text);
  }
  va_end(again);
  return ok;
}
