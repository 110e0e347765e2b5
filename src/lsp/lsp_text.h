// A document's text as the protocol sees it: lines split at LF, CR LF or a
// lone CR, positions counted in UTF-16 code units or in bytes, and the same
// lines joined with LF, as the checking pass reads them.
#ifndef QEV2MID_LSP_TEXT_H
#define QEV2MID_LSP_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// UTF-16 is the protocol's default; UTF-8 where the client offers it.
enum class position_encoding : std::uint8_t { utf16, utf8 };

// Where each line's content starts and ends in a text, its line end left out.
struct text_lines {
  std::vector<std::size_t> starts, ends;
};
text_lines split_lines(const std::string &text);

// The byte offset of a position. A character past its line's end means the
// end, and a line past the last, the text's end, as the protocol asks.
std::size_t offset_of(const std::string &text, const text_lines &lines, std::uint64_t line,
                      std::uint64_t character, position_encoding encoding);

// The position's character of the first bytes of a line.
std::uint64_t character_of(const char *line, std::size_t bytes, position_encoding encoding);

// The same lines, each ending in LF where it ended at all.
std::string joined_with_lf(const std::string &text);

#endif
