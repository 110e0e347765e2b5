// The language server's positions on the production functions: lines split
// as the protocol splits them, and positions in both encodings to bytes and
// back, each row a text, a position and the byte it names.
#include "lsp/lsp_text.h"

#include "test_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Lines {
  const char *name;
  std::string text;
  std::vector<std::size_t> starts, ends;
  std::string joined;
};

class SplitLines : public testing::TestWithParam<Lines> {};

TEST_P(SplitLines, AsTheProtocolSplitsThem) {
  const Lines &row = GetParam();
  text_lines got = split_lines(row.text);
  EXPECT_EQ(got.starts, row.starts);
  EXPECT_EQ(got.ends, row.ends);
  EXPECT_EQ(joined_with_lf(row.text), row.joined);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SplitLines,
    testing::Values(
        Lines{"empty", "", {0}, {0}, ""},
        Lines{"no final line end", "a\nbc", {0, 2}, {1, 4}, "a\nbc"},
        Lines{"CR LF, and a CR alone at the end", "a\r\nb\r", {0, 3, 5}, {1, 4, 5}, "a\nb\n"},
        Lines{"CR, CR LF and LF one after another",
              "\r\r\n\n",
              {0, 1, 3, 4},
              {0, 1, 3, 4},
              "\n\n\n"}),
    row_name<Lines>);

struct Position {
  const char *name;
  std::string text;
  std::uint64_t line, character;
  position_encoding encoding;
  std::size_t offset;
};

class Positions : public testing::TestWithParam<Position> {};

TEST_P(Positions, NameTheirByte) {
  const Position &row = GetParam();
  EXPECT_EQ(offset_of(row.text, split_lines(row.text), row.line, row.character, row.encoding),
            row.offset);
}

constexpr auto utf16 = position_encoding::utf16, utf8 = position_encoding::utf8;

INSTANTIATE_TEST_SUITE_P(
    Rows, Positions,
    testing::Values(
        Position{"ASCII", "ab\ncd", 1, 1, utf16, 4},
        Position{"after a two-byte character, one unit", "\xC3\xA9x", 0, 1, utf16, 2},
        Position{"after a two-byte character, two bytes", "\xC3\xA9x", 0, 2, utf8, 2},
        Position{"after an emoji, two units", "\xF0\x9F\x98\x80x", 0, 2, utf16, 4},
        Position{"inside an emoji's two units, before it", "a\xF0\x9F\x98\x80x", 0, 2, utf16, 1},
        Position{"inside an emoji's bytes, before it", "a\xF0\x9F\x98\x80x", 0, 3, utf8, 1},
        Position{"past the line's end, its end", "ab\r\ncd", 0, 9, utf16, 2},
        Position{"past the last line, the text's end", "ab\ncd", 5, 0, utf16, 5},
        Position{"after a lone CR", "ab\rcd", 1, 1, utf16, 4}),
    row_name<Position>);

TEST(CharacterOf, CountsUnitsOrBytes) {
  std::string line = "\xC3\xA9\xF0\x9F\x98\x80x";
  EXPECT_EQ(character_of(line.data(), 2, utf16), 1u);
  EXPECT_EQ(character_of(line.data(), 6, utf16), 3u);
  EXPECT_EQ(character_of(line.data(), 7, utf16), 4u);
  EXPECT_EQ(character_of(line.data(), 6, utf8), 6u);
}

} // namespace
