// Lines of qevcheck's output, one per finding: the compilers' form, which
// editors jump to, or a JSON object, which scripts and the web page read.
// The fields of both are an interface: change them only with the man page.
#ifndef QEV2MID_FINDING_LINES_H
#define QEV2MID_FINDING_LINES_H

#include "check_pass.h"

#include <string>

enum class line_form { text, color, json };

// Appends the finding r in file path to out, as one line that ends in LF.
void append_finding(std::string &out, const check_record &r, const char *path, line_form form);

#endif
