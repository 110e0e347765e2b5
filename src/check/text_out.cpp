// Appending text for the findings: numbers, values as written, and
// characters named the way a reader can find them in an editor.
#include "text_out.h"

#include "qev/characters.h"

#include <cstring>

char *put(char *out, const char *text) {
  std::size_t n = std::strlen(text);
  std::memcpy(out, text, n);
  return out + n;
}

char *put_decimal(char *out, std::uint64_t v) {
  char digits[20];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) {
    *out++ = digits[--n];
  }
  return out;
}

char *put_hex(char *out, std::uint32_t v, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    *out++ = "0123456789ABCDEF"[(v >> shift) & 0xF];
  }
  return out;
}

char *put_value(char *out, const char *value, std::size_t length) {
  constexpr std::size_t most = 24;
  std::memcpy(out, value, length < most ? length : most);
  return length <= most ? out + length : put(out + most, "...");
}

char *put_char(char *out, const char *p) {
  char32_t cp = 0;
  std::size_t n = utf8_sequence(p, &cp);
  if (n == 0) {
    return put_hex(put(out, "byte 0x"), static_cast<unsigned char>(*p), 2);
  }
  if (is_control(cp)) {
    return put_hex(put(out, "U+"), static_cast<std::uint32_t>(cp), 4);
  }
  *out++ = '\'';
  std::memcpy(out, p, n);
  out += n;
  *out++ = '\'';
  if (n == 1) {
    return out;
  }
  out = put_hex(put(out, " (U+"), static_cast<std::uint32_t>(cp), cp > 0xFFFF ? 6 : 4);
  if (const char *name = look_alike_name(cp)) {
    out = put(put(out, ", "), name);
  }
  return put(out, ")");
}

const char *field_name(field f) {
  constexpr const char *names[field_count] = {"seconds",     "milliseconds", "channel letter",
                                              "kind letter", "note",         "velocity"};
  return names[static_cast<std::size_t>(f)];
}

const char *look_alike_at(const char *p) {
  char32_t cp = 0;
  return utf8_sequence(p, &cp) > 1 ? look_alike_name(cp) : nullptr;
}

char *put_seconds(char *out, std::uint64_t ms) {
  out = put_decimal(out, ms / 1000);
  *out++ = '.';
  *out++ = static_cast<char>('0' + ms / 100 % 10);
  *out++ = static_cast<char>('0' + ms / 10 % 10);
  *out++ = static_cast<char>('0' + ms % 10);
  return put(out, " s");
}
