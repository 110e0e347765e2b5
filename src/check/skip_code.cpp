// Why a skipped line is skipped, as a finding's code: the field rules'
// reason, or the text glued to a number that the rules stumbled on.
#include "skip_code.h"

#include "qev/characters.h"

// A line whose first field converts as a number is meant as an event; any
// other line is a comment.
bool meant_as_event(const field_problem &why) {
  return !(why.fault == field_fault::missing && why.where == field::seconds);
}

// Text glued to a number is what a skipped line stumbled on when the rules
// stopped right there looking for a number, or for a channel letter where a
// unit or a sign of punctuation stands.
finding_code skip_code(field_problem &p) {
  // A channel letter may follow the milliseconds directly, so "500ms" reads
  // as channel m and kind s: a unit all the same.
  const char *chan = p.starts[static_cast<std::size_t>(field::channel)];
  if (p.glued == nullptr && p.where == field::kind && chan[-1] >= '0' && chan[-1] <= '9' &&
      unit_length(chan) > 1) {
    p.glued = chan;
    p.glued_to = field::milliseconds;
    return finding_code::glued_text;
  }
  if (p.glued != nullptr && p.glued == p.value) {
    auto c = static_cast<unsigned char>(*p.value);
    bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (p.fault == field_fault::missing ||
        (p.fault == field_fault::bad_channel && (!letter || unit_length(p.value) != 0))) {
      return finding_code::glued_text;
    }
  }
  switch (p.fault) {
  case field_fault::missing:
    return *p.value == '\n' || *p.value == '\r' ? finding_code::missing_field
                                                : finding_code::not_a_number;
  case field_fault::minus:
    return finding_code::minus_sign;
  case field_fault::above_32_bits:
    return finding_code::number_too_large;
  case field_fault::bad_channel:
    return finding_code::bad_channel;
  case field_fault::bad_kind:
    return finding_code::bad_kind;
  case field_fault::above_127:
    return finding_code::above_127;
  case field_fault::time_too_late:
    return finding_code::time_too_late;
  }
  return finding_code::missing_field;
}
