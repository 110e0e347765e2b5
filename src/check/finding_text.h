// The words of the checking pass's findings: one line of text per record,
// the same for qevcheck and for the web page, written for a musician who has
// never read the code.
#ifndef QEV2MID_FINDING_TEXT_H
#define QEV2MID_FINDING_TEXT_H

#include "check_pass.h"

#include <cstddef>
#include <cstdint>

// The most bytes a message takes, its terminating NUL included.
inline constexpr std::size_t max_message = 640;

// Writes v in decimal at out, which holds 20 bytes; returns the end.
char *put_decimal(char *out, std::uint64_t v);

// "error", "warning" or "note".
const char *severity_name(severity level);

// Writes the message of a finding into out, which holds max_message bytes:
// what is wrong, and a hint where the fix is clear, without the place, the
// severity or the code. Returns its length; the text is NUL-terminated.
std::size_t finding_message(const check_record &r, char *out);

#endif
