// Repairs as rows: a file's bytes, its first round of fixes with their
// safety, and the file after --fix and after --fix --unsafe-fixes.
#include "check/repair.h"
#include "check/unified_diff.h"

#include "test_names.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// Text as UTF-16, little-endian, behind its byte-order mark.
std::string utf16le(const std::string &ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

struct Case {
  const char *name;
  std::string input;
  std::vector<std::string> fixes; // "LINE: TITLE (safe|unsafe)", the first round's
  std::string fixed;              // after every round of safe fixes
  std::string unsafe;             // after every round of all fixes
};

const std::string off = "0 1 a D 60\n";

const Case cases[] = {
    // Safe: bytes the converter ignores, or a skipped line made the event its hint names.
    {"a byte-order mark hides the first event",
     "\xEF\xBB\xBF"
     "0 0 a P 60 9\n" +
         off,
     {"1: Remove the byte-order mark (safe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"the last line has no line feed",
     "0 0 a D 60",
     {
         "1: End the last line with a line feed (safe)",
     },
     "0 0 a D 60\n",
     "# 0 0 a D 60\n"},
    {"an added line end is the file's own",
     "0 0 a P 60 9\r\n0 1 a D 60",
     {"2: End the last line with a line feed (safe)"},
     "0 0 a P 60 9\r\n0 1 a D 60\r\n",
     "0 0 a P 60 9\r\n0 1 a D 60\r\n"},
    {"lines end in a CR alone",
     "0 0 a P 60 9\r0 1 a D 60\r",
     {"1: End the lines with line feeds (safe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"UTF-16 text",
     utf16le("0 0 a P 60 9\n" + off),
     {"1: Save the text as UTF-8 (safe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"no-break spaces",
     "0\xC2\xA0"
     "0 a P 60\xE2\x80\xAF"
     "9\n" +
         off,
     {"1: Replace Unicode spaces with plain spaces (safe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"a byte-order mark inside a line",
     "0 0 a P\xEF\xBB\xBF 60 9\n" + off,
     {"1: Remove the byte-order mark (safe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"full-width digits",
     "0 0 a P \uFF16\uFF10 9\n" + off,
     {"1: Write the digits in ASCII (safe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"a comma before a blank",
     "0 0 a P 60, 9\n" + off,
     {"1: Separate the fields with spaces, not commas (safe)",
      "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"commas as every separator",
     "0,0,a,P,60,9\n" + off,
     {"1: Separate the fields with spaces, not commas (safe)",
      "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"a kind letter in lower case",
     "0 0 a p 60 9\n" + off,
     {"1: Write the kind letter in upper case (safe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"a channel letter in upper case",
     "0 0 A P 60 9\n" + off,
     {"1: Write the channel letter in lower case (safe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"decimal seconds",
     "0.25 a P 60 9\n0 250 a D 60\n",
     {"1: Write the time as seconds and milliseconds (safe)",
      "2: Comment out the note off (unsafe)"},
     "0 250 a P 60 9\n0 250 a D 60\n",
     "0 250 a P 60 9\n0 250 a D 60\n"},
    {"a unit glued to the milliseconds",
     "0 500ms a P 60 9\n0 500 a D 60\n",
     {"1: Remove the unit (safe)", "2: Comment out the note off (unsafe)"},
     "0 500 a P 60 9\n0 500 a D 60\n",
     "0 500 a P 60 9\n0 500 a D 60\n"},
    {"a unit after the velocity changes no event",
     "0 0 a P 60 9ms\n" + off,
     {"1: Remove the unit (safe)"},
     "0 0 a P 60 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"several problems of a line, one round each",
     "1.5 A p 60 9\n1 500 a D 60\n",
     {"1: Write the time as seconds and milliseconds (safe)",
      "2: Comment out the note off (unsafe)"},
     "1 500 a P 60 9\n1 500 a D 60\n",
     "1 500 a P 60 9\n1 500 a D 60\n"},

    // A fix that would make a later event drop is not safe.
    {"decimal seconds after the next event",
     "9.5 a P 61 9\n1 0 a P 60 9\n1 1 a D 60\n",
     {"1: Write the time as seconds and milliseconds (unsafe)"},
     "9.5 a P 61 9\n1 0 a P 60 9\n1 1 a D 60\n",
     "1 0 a P 60 9\n1 1 a D 60\n9 500 a P 61 9\n9 500 a D 61\n"},

    // Unsafe: what plays changes, or what was meant is a guess.
    {"the letter O in a number",
     "0 0 a P 6O 9\n" + off,
     {"1: Read the letter O as the digit 0 (unsafe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 6O 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"a hexadecimal note",
     "0 0 a P 0x3c 9\n" + off,
     {"1: Write the number in decimal (unsafe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P 0x3c 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"a channel numbered from 1",
     "0 0 16 P 60 9\n0 1 p D 60\n",
     {"1: Write the channel as a letter (unsafe)", "2: Comment out the note off (unsafe)"},
     "0 0 16 P 60 9\n0 1 p D 60\n",
     "0 0 p P 60 9\n0 1 p D 60\n"},
    {"a note name",
     "0 0 a P C4 9\n" + off,
     {"1: Write the note as a number (unsafe)", "2: Comment out the note off (unsafe)"},
     "0 0 a P C4 9\n" + off,
     "0 0 a P 60 9\n" + off},
    {"two voices, one after the other",
     "0 0 a P 60 9\n1 0 a D 60\n# voice two\n0 0 b P 64 9\n1 0 b D 64\n",
     {"4: Interleave the lines by time (unsafe)", "5: Comment out the note off (unsafe)"},
     "0 0 a P 60 9\n1 0 a D 60\n# voice two\n0 0 b P 64 9\n1 0 b D 64\n",
     "0 0 a P 60 9\n# voice two\n0 0 b P 64 9\n1 0 a D 60\n1 0 b D 64\n"},
    {"a stray note off",
     "0 0 a D 60\n",
     {"1: Comment out the note off (unsafe)"},
     "0 0 a D 60\n",
     "# 0 0 a D 60\n"},
    {"a note still sounding",
     "0 0 a P 60 9\n1 250 b P 62 1\n1 300 b D 62\n",
     {"1: End the note at the last event (unsafe)"},
     "0 0 a P 60 9\n1 250 b P 62 1\n1 300 b D 62\n",
     "0 0 a P 60 9\n1 250 b P 62 1\n1 300 b D 62\n1 300 a D 60\n"},

    // No fix where the text does not say what was meant.
    {"decimal seconds and milliseconds", "1.5 0 a D 60\n", {}, "1.5 0 a D 60\n", "1.5 0 a D 60\n"},
    {"a comma inside a number", "1,5 a D 60\n", {}, "1,5 a D 60\n", "1,5 a D 60\n"},
    {"minutes and seconds", "0:02 0 a D 60\n", {}, "0:02 0 a D 60\n", "0:02 0 a D 60\n"},
    {"a missing velocity", "0 0 a P 60\n", {}, "0 0 a P 60\n", "0 0 a P 60\n"},
};

void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

class RepairTest : public testing::TestWithParam<Case> {};

TEST_P(RepairTest, FixesWhatItNames) {
  const Case &c = GetParam();
  std::vector<std::string> fixes;
  for (const found_fix &f : find_fixes(c.input, default_drums)) {
    fixes.push_back(std::to_string(f.line) + ": " + f.fix.title +
                    (f.fix.safety == fix_safety::safe ? " (safe)" : " (unsafe)"));
  }
  EXPECT_EQ(fixes, c.fixes);
  std::string fixed = repair(c.input, default_drums, false);
  EXPECT_EQ(fixed, c.fixed);
  EXPECT_EQ(repair(c.input, default_drums, true), c.unsafe);
  // A fixed point: a second repair changes nothing.
  EXPECT_EQ(repair(fixed, default_drums, false), fixed);
}

INSTANTIATE_TEST_SUITE_P(Files, RepairTest, testing::ValuesIn(cases), row_name<Case>);

// Every fix the rows give is in the man page's FIXES, with its kind: the
// safe ones before the unsafe. Each unsafe one says what it changes.
TEST(Repair, EachFixHasAManPageEntry) {
  std::ifstream page(QEV2MID_SOURCE_DIR "/src/programs/qevcheck.1");
  ASSERT_TRUE(page.good());
  std::map<std::string, fix_safety> documented;
  bool fixes = false;
  fix_safety kind = fix_safety::safe;
  for (std::string line; std::getline(page, line);) {
    if (line.rfind(".Sh ", 0) == 0) {
      fixes = line == ".Sh FIXES";
    } else if (fixes && line == ".Em unsafe") {
      kind = fix_safety::unsafe;
    } else if (fixes && line.rfind(".It ", 0) == 0) {
      documented[line.substr(4)] = kind;
    }
  }
  for (const Case &c : cases) {
    for (const found_fix &f : find_fixes(c.input, default_drums)) {
      // Where it stands may make a safe fix unsafe, never the reverse.
      auto entry = documented.find(f.fix.title);
      ASSERT_NE(entry, documented.end()) << f.fix.title;
      bool moved = f.fix.safety == fix_safety::unsafe && f.fix.makes_event;
      EXPECT_TRUE(entry->second == f.fix.safety || (moved && entry->second == fix_safety::safe))
          << f.fix.title;
      EXPECT_EQ(f.fix.change != nullptr, f.fix.safety == fix_safety::unsafe) << f.fix.title;
    }
  }
}

// The diff as diff -a -u writes it, less its two header lines, which name
// the file here and carry dates there.
TEST(Diff, WritesWhatDiffWrites) {
  std::string twenty, changed = "L1\n";
  for (int i = 1; i <= 20; ++i) {
    twenty += "l" + std::to_string(i) + "\n";
    changed += i > 1 && i < 20 ? "l" + std::to_string(i) + "\n" : "";
  }
  changed += "L20\n";
  const struct {
    std::string before, after, hunks;
  } rows[] = {
      {"a\nb\nc\n", "a\nB\nc\n", "@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n"},
      {"a\nb", "a\nb\n", "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n"},
      {"a\n", "a\nb\n", "@@ -1 +1,2 @@\n a\n+b\n"},
      {twenty, changed,
       "@@ -1,4 +1,4 @@\n-l1\n+L1\n l2\n l3\n l4\n"
       "@@ -17,4 +17,4 @@\n l17\n l18\n l19\n-l20\n+L20\n"},
      {"same\n", "same\n", ""},
  };
  for (const auto &row : rows) {
    std::string want = row.hunks.empty() ? "" : "--- f.qev\n+++ f.qev\n" + row.hunks;
    EXPECT_EQ(unified_diff("f.qev", row.before, row.after), want) << row.before;
  }
}

} // namespace
