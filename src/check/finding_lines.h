// Lines of qevcheck's output, one per finding: the compilers' form, which
// editors jump to, or a JSON object, which scripts and the web page read.
// The fields of both are an interface: change them only with the man page.
#ifndef QEV2MID_FINDING_LINES_H
#define QEV2MID_FINDING_LINES_H

#include "check_pass.h"
#include "line_fixes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class line_form { text, color, json };

// The file a fix edits, with the offset where each of its lines starts, to
// give each edit's place by line and column.
struct fix_place {
  const std::string *text;
  std::vector<std::size_t> starts;
};
std::vector<std::size_t> line_starts(const std::string &text);

// Appends the finding r in file path to out, as one line that ends in LF;
// in JSON with its fix, where one is given.
void append_finding(std::string &out, const check_record &r, const char *path, line_form form,
                    const check_fix *fix = nullptr, const fix_place *place = nullptr);

#endif
