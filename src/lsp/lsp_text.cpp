// Lines and positions in a document's text. Editors send valid UTF-8, as
// JSON strings are, but a position is still clamped to whole characters.
#include "lsp_text.h"

#include <cstring>

text_lines split_lines(const std::string &text) {
  text_lines lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\n' || c == '\r') {
      lines.starts.push_back(start);
      lines.ends.push_back(i);
      i += c == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 1 : 0;
      start = i + 1;
    }
  }
  lines.starts.push_back(start);
  lines.ends.push_back(text.size());
  return lines;
}

// How many code units the character at p takes, and how many bytes.
static std::size_t units_of(unsigned char lead, position_encoding encoding, std::size_t *bytes) {
  *bytes = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (encoding == position_encoding::utf8) {
    return *bytes;
  }
  return *bytes == 4 ? 2 : 1;
}

std::size_t offset_of(const std::string &text, const text_lines &lines, std::uint64_t line,
                      std::uint64_t character, position_encoding encoding) {
  if (line >= lines.starts.size()) {
    return text.size();
  }
  std::size_t at = lines.starts[line], end = lines.ends[line];
  for (std::uint64_t counted = 0; at < end;) {
    std::size_t bytes = 0;
    std::size_t units = units_of(static_cast<unsigned char>(text[at]), encoding, &bytes);
    if (counted + units > character || at + bytes > end) {
      break;
    }
    counted += units;
    at += bytes;
  }
  return at;
}

std::uint64_t character_of(const char *line, std::size_t bytes, position_encoding encoding) {
  if (encoding == position_encoding::utf8) {
    return bytes;
  }
  std::uint64_t units = 0;
  for (std::size_t i = 0; i < bytes; ++i) {
    auto c = static_cast<unsigned char>(line[i]);
    // A lead byte starts a character; one of four bytes takes two units.
    units += (c & 0xC0) != 0x80 ? 1 : 0;
    units += c >= 0xF0 ? 1 : 0;
  }
  return units;
}

std::string joined_with_lf(const std::string &text) {
  if (std::memchr(text.data(), '\r', text.size()) == nullptr) {
    return text;
  }
  std::string joined;
  joined.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      joined += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      joined += '\n';
    }
  }
  return joined;
}
