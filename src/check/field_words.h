// The words for a line the converter skips: what stands where a field
// should, and how to write what the musician meant.
#ifndef QEV2MID_FIELD_WORDS_H
#define QEV2MID_FIELD_WORDS_H

#include "check_pass.h"

// "line skipped: " and the reason for r, a skipped line.
char *put_skipped(char *out, const check_record &r);

// The text glued to a number, what the number is read as where the line is
// read up to it, and the hint.
char *put_glued(char *out, const field_problem &p, bool read_up_to_it);

#endif
