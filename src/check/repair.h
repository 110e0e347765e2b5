// Repairs: the fixes a check finds in a file's bytes, each with its safety
// decided where it stands, and rounds of them until nothing changes.
#ifndef QEV2MID_REPAIR_H
#define QEV2MID_REPAIR_H

#include "line_fixes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A finding's fix: which finding (counting the check's findings from 0, the
// accepted events not counted) on which line.
struct found_fix {
  std::size_t finding;
  std::uint64_t line;
  check_fix fix;
};

// The fixes for the findings of data, in the order of the findings. A fix
// that turns a skipped line into an event later than the next accepted one
// would make that one drop: it is unsafe. Each record of the check goes to
// also as well, where given, so that one pass serves a caller that shows
// the findings beside their fixes, and result gets what the check returns.
std::vector<found_fix> find_fixes(const std::string &data, std::uint16_t drums,
                                  check_report also = nullptr, void *context = nullptr,
                                  int *result = nullptr);

// The fix of finding, from fixes in the order of their findings, looked for
// from *from on, which moves on past it; null where it has none.
const check_fix *next_fix(const std::vector<found_fix> &fixes, std::size_t finding,
                          std::size_t *from);

// data with the safe fixes applied, and the unsafe ones too where asked. An
// edit that overlaps one before it waits for the next round, and so does a
// fix about the notes while the round has others.
std::string apply_fixes(const std::string &data, const std::vector<found_fix> &fixes, bool unsafe);

// Round after round of fixes until one changes nothing.
std::string repair(const std::string &data, std::uint16_t drums, bool unsafe);

#endif
