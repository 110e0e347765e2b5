// Why a skipped line is skipped, as a finding's code.
#ifndef QEV2MID_SKIP_CODE_H
#define QEV2MID_SKIP_CODE_H

#include "check_pass.h"

// A line whose first field converts as a number is meant as an event; any
// other line is a comment.
bool meant_as_event(const field_problem &why);

// The code for a line meant as an event that is not one. Where the rules
// stopped at a unit glued to the milliseconds ("500ms" reads as channel m
// and kind s), it marks the unit in p as glued text.
finding_code skip_code(field_problem &p);

#endif
