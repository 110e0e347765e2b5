#include "qev/characters.h"
#include "qev/event_reader.h"

#include "layers.h"
#include "test_names.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct Case {
  const char *name;
  std::string input;
  std::vector<Event> events;
  int end;
};

const std::string x998(998, 'x');
const std::string x997(997, 'x');
const std::string x999(999, 'x');

const Case cases[] = {
    // Lines, comments and the end of the input.
    {"empty file", "", {}, -1},
    {"only comments", "hello\n\n   \n# 0 0 a P 60 100\n", {}, -1},
    {"typical line", "2 250 c P 60 100\n", {{2250, 0x92, 60, 100}}, -1},
    {"last channel", "0 0 p P 0 0\n", {{0, 0x9F, 0, 0}}, -1},
    {"note off without velocity", "0 0 a D 60\n", {{0, 0x80, 60, 0}}, -1},
    {"unconverted sixth field", "0 0 a D 60 xyz\n", {{0, 0x80, 60, 0}}, -1},
    {"note off with velocity", "0 0 a D 60 64\n", {{0, 0x80, 60, 64}}, -1},
    {"note on needs velocity", "0 0 a P 60\n", {}, -1},
    {"glued letters and junk after", "0 0aP60 100 and more\n", {{0, 0x90, 60, 100}}, -1},
    {"every white-space kind", "\t0\v0\fa\rP 60\t100 \n", {{0, 0x90, 60, 100}}, -1},
    {"bad letters", "0 0 q P 1 1\n0 0 A P 1 1\n0 0 a p 1 1\n0 0 a d 1 1\n", {}, -1},
    {"byte-order mark",
     "\xEF\xBB\xBF"
     "0 0 a P 60 100\n",
     {},
     -1},
    {"milliseconds above 999",
     "1 500 a P 60 100\n0 1500 a P 61 100\n",
     {{1500, 0x90, 60, 100}, {0, 0x90, 61, 100}},
     -1},
    {"an earlier line that is not plain after a batch of plain ones",
     "0 1 a P 60 1\n0 2 a P 61 1\n0 3 a P 62 1\n0 4 a P 63 1\n0 5 a P 64 1\n"
     "0 6 a P 65 1\n0 7 a P 66 1\n0 8 a P 67 1\n0 9 a P 68 1\n0 10 a P 69 1\n0  5 a D 60\n",
     {{1, 0x90, 60, 1},
      {1, 0x90, 61, 1},
      {1, 0x90, 62, 1},
      {1, 0x90, 63, 1},
      {1, 0x90, 64, 1},
      {1, 0x90, 65, 1},
      {1, 0x90, 66, 1},
      {1, 0x90, 67, 1},
      {1, 0x90, 68, 1},
      {1, 0x90, 69, 1}},
     -1},
    {"earlier lines are dropped",
     "5 0 a P 60 1\n4 999 a P 61 1\n5 0 a D 60\n",
     {{5000, 0x90, 60, 1}, {0, 0x80, 60, 0}},
     -1},

    // Read errors.
    {"no final line feed", "0 0 a P 60 100", {}, -2},
    {"blank last line without line feed", "0 0 a P 60 100\n  ", {{0, 0x90, 60, 100}}, -2},
    {"NUL in a line", "0 0 a P 60 100\n0 0 a\0 P 60 100\n"s, {{0, 0x90, 60, 100}}, -2},
    {"NUL at line start", "\0\n"s, {}, -2},
    {"NUL before a 0x1A in the same block", "0 0 a P 60 100\n0\0\n\x1A"s, {{0, 0x90, 60, 100}}, -2},
    {"998 characters", x998 + "\n", {}, -1},
    {"999 characters", x999 + "\n", {}, -2},

    // Text mode.
    {"CR LF", "0 0 a P 60 100\r\n1 0 a D 60\r\n", {{0, 0x90, 60, 100}, {1000, 0x80, 60, 0}}, -1},
    {"CR LF at the limit", x998 + "\r\n", {}, -1},
    {"lone CR counts", "\r" + x998 + "\n", {}, -2},
    {"only the CR before LF goes", x997 + "\r\r\n", {}, -1},
    {"CR CR LF over the limit", x998 + "\r\r\n", {}, -2},
    {"lone CR is white space", "0 0 a\rP 60 100\n", {{0, 0x90, 60, 100}}, -1},
    {"0x1A ends the input",
     "0 0 a P 60 100\n\x1A"
     "1 0 a P 60 100 no newline",
     {{0, 0x90, 60, 100}},
     -1},
    {"0x1A cuts a line", "0 0 a P 60 100\x1A\n", {}, -2},
    {"CR before 0x1A stays", "0 0 a P 60 100\n\r\x1A", {{0, 0x90, 60, 100}}, -2},
    {"CR at the end", "0 0 a P 60 100\r", {}, -2},

    // Numbers.
    {"leading zeros",
     "000000000000000000001 000000000000000000060 a P 000000000000000000060 "
     "000000000000000000100\n",
     {{1060, 0x90, 60, 100}},
     -1},
    {"plus sign", "+1 +0 a P +60 +100\n", {{1000, 0x90, 60, 100}}, -1},
    {"sign without digits ends the scan",
     "0 0 a D 60 +\n0 0 a D 61 -\n",
     {{0, 0x80, 60, 0}, {0, 0x80, 61, 0}},
     -1},
    {"minus sign",
     "-0 0 a P 1 1\n0 -0 a P 1 1\n0 0 a P -0 1\n0 0 a P 1 -0\n0 0 a D 1 -0\n",
     {},
     -1},
    {"minus that wraps to a small value", "0 -18446744073709551615 a P 1 1\n", {}, -1},
    {"largest time",
     "4294967 295 a P 1 1\n0 4294967295 a D 1\n",
     {{4294967295, 0x90, 1, 1}, {0, 0x80, 1, 0}},
     -1},
    {"time above 32 bits",
     "4294967 296 a P 1 1\n4294967296 0 a P 1 1\n0 4294967296 a P 1 1\n",
     {},
     -1},
    {"one digit past 32 bits", "0 42949672950 a P 1 1\n", {}, -1},
    {"number above 64 bits",
     "0 18446744073709551616 a P 1 1\n0 0 a P 1 99999999999999999999999\n",
     {},
     -1},
    {"data bytes stop at 127",
     "0 0 a P 127 127\n0 0 a P 128 1\n0 0 a P 1 128\n0 0 a D 200\n"
     "0 0 a D 1 255\n0 0 a P 256 1\n",
     {{0, 0x90, 127, 127}},
     -1},
};

// A row prints as its name, not as the bytes of the struct.
void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

class ReaderTest : public testing::TestWithParam<Case> {};

TEST_P(ReaderTest, ReadsEvents) {
  const Case &c = GetParam();
  Reading o = read_events(c.input);
  EXPECT_EQ(o.events, c.events);
  EXPECT_EQ(o.end, c.end);
}

INSTANTIATE_TEST_SUITE_P(Lines, ReaderTest, testing::ValuesIn(cases), row_name<Case>);

TEST(Reader, TimeCarriesOverBetweenCalls) {
  // The time of the last accepted event is what later deltas count from.
  Reading o = read_events("1 0 a P 60 100\n0 999 a P 60 100\n2 0 a D 60\n");
  EXPECT_EQ(o.events, (std::vector<Event>{{1000, 0x90, 60, 100}, {1000, 0x80, 60, 0}}));
  EXPECT_EQ(curtime, 2000u);
}

TEST(Reader, ReportsAFailedRead) {
  // Reading a directory fails where opening it does not.
  std::FILE *dir = std::fopen(".", "rb");
  if (dir == nullptr) {
    GTEST_SKIP() << "this system opens no directory as a stream";
  }
  convert_restart();
  const timed_event *events = nullptr;
  std::size_t count = 0;
  EXPECT_EQ(next_events(dir, &events, &count), -2);
  std::rewind(dir);
  text_input input;
  const char *line = nullptr;
  EXPECT_EQ(next_line(input, dir, &line), -2);
  EXPECT_EQ(input.error, input_fault::read_failed);
  std::fclose(dir);
}

} // namespace

// Columns as an editor counts them: one per UTF-8 character, and one for each
// byte that starts none (a cut sequence, an overlong form, a surrogate).
TEST(Characters, ColumnsCountCharacters) {
  struct Row {
    const char *line;
    std::size_t byte_column, column;
  } rows[] = {
      {"\xC3\xA9x\n", 3, 2},         // two bytes, one character
      {"\t\xEF\xBC\x96x\n", 5, 3},   // a tab, then a full-width digit
      {"\xE2\x80x\n", 3, 3},         // a sequence cut short
      {"\xC0\x80x\n", 3, 3},         // an overlong NUL
      {"\xED\xA0\x80x\n", 4, 4},     // a surrogate
      {"\xF0\x9F\x8E\xB9x\n", 5, 2}, // beyond the first plane
  };
  for (const Row &r : rows) {
    EXPECT_EQ(char_column(r.line, r.byte_column), r.column) << r.line;
  }
}

// A name as a message shows it: no character that could drive a terminal,
// and no more than room for, cut where a character ends.
TEST(Characters, NamesShowNoControls) {
  const struct {
    const char *name;
    std::size_t most;
    const char *shown;
  } rows[] = {
      {"a\x1B[1mz", SIZE_MAX, "a?[1mz"},   // ESC
      {"a\x7Fz", SIZE_MAX, "a?z"},         // DEL
      {"\xC2\x9Bz", SIZE_MAX, "?z"},       // C1 CSI, as UTF-8
      {"\x9Bz", SIZE_MAX, "?z"},           // C1 CSI, as a lone byte
      {"\xC3\xA9\xC3\xA9", 3, "\xC3\xA9"}, // cut where a character ends
  };
  for (const auto &r : rows) {
    EXPECT_EQ(printable_name(r.name, r.most), r.shown) << r.name;
  }
}
