// Repairs for findings: the edits that mend a finding on its line, whether
// they are safe to apply unasked, and a title that names them.
#ifndef QEV2MID_LINE_FIXES_H
#define QEV2MID_LINE_FIXES_H

#include "check_pass.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// safe: the bytes it changes are ones qev2mid ignores, or it turns a skipped
// line into the one event its hint names. unsafe: it changes what plays, or
// what the writer meant is a guess; applied only when asked.
enum class fix_safety : std::uint8_t { safe, unsafe };

// Bytes [start, end) of the file replaced by text. The file is in memory
// while it is repaired, so its offsets fit a size_t.
struct fix_edit {
  std::size_t start, end;
  std::string text;
};

inline constexpr std::uint8_t fix_stage_line = 0, fix_stage_order = 1, fix_stage_notes = 2;

struct check_fix {
  const char *title = nullptr;
  fix_safety safety = fix_safety::safe;
  // What an unsafe fix changes, in a phrase for the person who chooses it;
  // null for a safe one.
  const char *change = nullptr;
  std::vector<fix_edit> edits;
  // Where the fix turns a skipped line into an event, that event's time:
  // a fix that puts it after the next accepted event would make that one
  // drop, and is then not safe (see repair.h).
  bool makes_event = false;
  std::uint32_t time = 0;
  // The round a fix may come in: one of a later stage waits for a round
  // with none of an earlier one. Lines are mended first, then put in order
  // of time, and only then are the notes looked at, as the order leaves them.
  std::uint8_t stage = fix_stage_line;
};

// The fix for a finding on its own line, worked out from the line's text
// while the record's report runs. False where the text does not say what
// was meant.
bool line_fix(const check_record &r, check_fix *fix);

// One edit from text as it stands, at offset in the file, to text as fixed:
// the bytes between what the two have in common at their start and end.
fix_edit edit_between(std::size_t offset, const std::string &from, const std::string &to);

// The line at text without its line end, as a fix rewrites it.
std::string line_text(const char *text);

#endif
