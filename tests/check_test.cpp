// The checking pass as records: each row a file and every finding the pass
// gives for it, in order, with what it returns. A new finding is one row.
#include "check/check_pass.h"
#include "cli/channel_letters.h"

#include "layers.h"
#include "test_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Findings = std::vector<std::string>;

struct Case {
  const char *name;
  std::string input;
  Findings findings;
  int end = 0;
};

// n lines of comment, 64 bytes each with the line feed.
std::string comment_lines(std::size_t n) {
  std::string line(63, '#');
  line += '\n';
  std::string all;
  for (std::size_t i = 0; i < n; ++i) {
    all += line;
  }
  return all;
}

const Case cases[] = {
    // Lines that are skipped, and why.
    {"the line breaks off after its seconds", "5\n", {"1:2 warning missing-field"}},
    {"a line past the first block of the input",
     comment_lines(2100) + "5\n",
     {"2101:2 warning missing-field"}},
    {"a run of two out-of-order lines",
     "1 0 a P 60 1\n2 0 a D 60\n0 5 b P 1 1\n0 6 b D 1\n",
     {"3:1 warning out-of-order ->2", "4:1 warning out-of-order ->2",
      "3:1 note out-of-order ->4 +1"}},
    {"an out-of-order line that stops a run of lines the plain scan takes",
     "0 0 a P 60 1\n0 1 a D 60\n0 2 a P 60 1\n0 3 a D 60\n0 4 a P 60 1\n0 5 a D 60\n0 0 b D 1\n",
     {"7:1 warning out-of-order ->6"}},

    // Notes that will not sound as written.
    {"a stray note off after a pair names no skipped note on",
     "0 0 a P 60\n0 1 a P 60 100\n0 2 a D 60\n0 3 a D 60\n",
     {"1:11 warning missing-field", "4:9 warning stray-note-off"}},
    {"a stray note off on a plain line points at its note",
     "0 0 a D 60\n",
     {"1:9 warning stray-note-off"}},
    {"a drum hit again is not already sounding, nor a stray note off's cause",
     "0 0 j P 36 100\n0 1 j P 36 100\n0 2 a D 36\n",
     {"3:9 warning stray-note-off"}},
    {"notes still sounding come in line order",
     "0 0 b P 62 1\n0 1 a P 61 1\n",
     {"1:9 warning still-sounding", "2:9 warning still-sounding"}},

    // Where the converter stops.
    {"999 characters and no line feed", std::string(999, 'x'), {"1:999 error line-too-long"}, -2},
    {"a last line without a line feed", "0 0 a D 60", {"1:11 error no-final-line-feed"}, -2},
    {"lines that end in a CR alone", "0 0 a P 60 1\r0 1 a D 60\r", {"1:13 error cr-line-ends"}, -2},
    {"a CR alone past 998 characters",
     "0 0 a P 60 1\r" + std::string(1000, ' '),
     {"1:13 error cr-line-ends"},
     -2},
    {"a CR LF that lost its line feed", "0 0 a D 60\r", {"1:12 error no-final-line-feed"}, -2},
    {"a NUL before a 0x1A in the same block",
     "0 0 a D 60\n0\0\n\x1A"s,
     {"1:9 warning stray-note-off", "2:2 error nul-byte"},
     -2},
    {"two NULs are no UTF-16", "\0\0\n"s, {"1:1 error nul-byte"}, -2},

    // Remarks.
    {"text after the end mark",
     "0 0 a D 60\n\x1Atext",
     {"1:9 warning stray-note-off", "2:1 note end-mark +4"}},
    {"padding after the end mark", "\x1A\r\n\x1A", {}},
};

void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

class CheckTest : public testing::TestWithParam<Case> {};

TEST_P(CheckTest, GivesFindings) {
  Checked c = check_text(GetParam().input);
  EXPECT_EQ(c.findings, GetParam().findings);
  EXPECT_EQ(c.end, GetParam().end);
}

INSTANTIATE_TEST_SUITE_P(Files, CheckTest, testing::ValuesIn(cases), row_name<Case>);

// Every code has its entry under DIAGNOSTICS in qevcheck.1, and every entry
// there names a code.
TEST(Codes, EachHasAManPageEntry) {
  std::ifstream page(QEV2MID_SOURCE_DIR "/src/programs/qevcheck.1");
  ASSERT_TRUE(page) << "qevcheck.1 cannot be read";
  std::set<std::string> documented;
  bool diagnostics = false;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind(".Sh ", 0) == 0) {
      diagnostics = line == ".Sh DIAGNOSTICS";
    } else if (diagnostics && line.rfind(".It Li ", 0) == 0) {
      documented.insert(line.substr(7));
    }
  }
  EXPECT_EQ(documented, std::set<std::string>(code_names.begin() + 1, code_names.end()));
}

// Each check keeps its state to itself: a check started inside another's
// report, as a long-lived process may start one, changes neither's findings.
TEST(Check, NestsInsideAnotherCheck) {
  std::string plain;
  for (int i = 0; i < 40; ++i) {
    plain += "0 " + std::to_string(i) + " a P 60 100\n0 " + std::to_string(i) + " a D 60\n";
  }
  static const std::string inner = "0 5 b P 61 90\n0 3 b D 61\n" + plain + "x\n1 0 c D 7\n";
  const std::string outer = "0 9 d P 62 1\n0 8 x\n" + plain + "5 0 d D 63\n0 0 a P 60 1\n";
  const Checked want_outer = check_text(outer), want_inner = check_text(inner);
  ASSERT_GT(want_outer.findings.size(), 2u);
  ASSERT_GT(want_inner.findings.size(), 2u);
  std::vector<Checked> nested;
  auto check_inner = [](void *to) {
    static_cast<std::vector<Checked> *>(to)->push_back(check_text(inner));
  };
  Checked got = check_text(outer, check_inner, &nested);
  EXPECT_EQ(got.findings, want_outer.findings);
  EXPECT_EQ(got.end, want_outer.end);
  ASSERT_FALSE(nested.empty());
  for (const Checked &c : nested) {
    EXPECT_EQ(c.findings, want_inner.findings);
  }
}

// The drum channels as qevcheck's --drums and the web page take them.
TEST(Drums, ParsesLettersOrNone) {
  const struct {
    const char *letters;
    bool ok;
    std::uint16_t mask;
  } rows[] = {
      {"j", true, 1 << 9}, {"ap", true, 0x8001}, {"none", true, 0},
      {"q", false, 7},     {"", false, 7},       {"jZ", false, 7},
  };
  for (const auto &row : rows) {
    std::uint16_t mask = 7;
    EXPECT_EQ(parse_drums(row.letters, &mask), row.ok) << row.letters;
    EXPECT_EQ(mask, row.mask) << row.letters;
  }
}

} // namespace
