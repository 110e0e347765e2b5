// The field rules: the fields of "%lu %lu %c %c %lu %lu" scanned as sscanf
// does, each number held to 32 bits, data bytes to 127 and the time to
// 32 bits of milliseconds. A kind letter or a rule added here is all it
// takes to widen what is accepted; a rule that narrows it must be mirrored
// in the plain scan.
#include "event_fields.h"

// White space as the C locale's isspace has it, less the line feed, which
// only ever ends a line here.
static inline bool is_blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r' && c != '\n');
}

static inline const char *skip_blanks(const char *p) {
  while (is_blank(*p)) {
    ++p;
  }
  return p;
}

// Converts an unsigned decimal number as %lu does: an optional sign, then
// one or more digits. Returns null when no digit follows. The caller refuses
// a minus sign and anything above 32 bits rather than wrap into a value
// that was never written.
[[gnu::always_inline]] static inline const char *scan_number(const char *p, std::uint64_t *value) {
  if (*p == '-' || *p == '+') {
    ++p;
  }
  auto digit = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0');
  if (digit > 9) {
    return nullptr;
  }
  std::uint64_t v = 0;
  do {
    // Past 32 bits the value only has to stay too large.
    if (v <= max_number) {
      v = v * 10 + digit;
    }
    digit = static_cast<unsigned>(static_cast<unsigned char>(*++p) - '0');
  } while (digit <= 9);
  *value = v;
  return p;
}

// Says the line is no event, and why when the caller asked: Explain
// compiles the description away where nobody reads it.
template <bool Explain>
static inline bool no_event(field_problem *why, field_fault fault, field where, const char *line,
                            const char *at, const char *end, std::uint64_t number = 0) {
  if constexpr (Explain) {
    why->fault = fault;
    why->where = where;
    why->value = at;
    why->length = static_cast<std::size_t>(end - at);
    why->column = static_cast<std::size_t>(at - line) + 1;
    why->number = number;
  }
  return false;
}

// Notes where a field starts and, the first time, text glued to a number.
template <bool Explain>
static inline void mark_field(field_problem *why, field f, const char *at, const char *end) {
  if constexpr (Explain) {
    why->starts[static_cast<std::size_t>(f)] = at;
    if (end == nullptr || why->glued != nullptr || is_blank(*end) || *end == '\n' ||
        (f == field::milliseconds && *end >= 'a' && *end <= 'p')) {
      return;
    }
    why->glued = end;
    why->glued_to = f;
  }
}

// A number's problems, if it has any, in the order they are found.
template <bool Explain>
static inline bool good_number(field_problem *why, field where, const char *line, const char *at,
                               const char *end, std::uint64_t value) {
  if (*at == '-') {
    return no_event<Explain>(why, field_fault::minus, where, line, at, end);
  }
  if (value > max_number) {
    return no_event<Explain>(why, field_fault::above_32_bits, where, line, at, end);
  }
  return true;
}

template <bool Explain>
static inline bool scan_fields(const char *line, timed_event *e, field_problem *why) {
  std::uint64_t sec = 0, ms = 0, key = 0, vel = 0;
  if constexpr (Explain) {
    for (const char *&start : why->starts) {
      start = nullptr;
    }
    why->glued = nullptr;
  }
  const char *at = skip_blanks(line);
  const char *p = scan_number(at, &sec);
  mark_field<Explain>(why, field::seconds, at, p);
  if (p == nullptr) {
    return no_event<Explain>(why, field_fault::missing, field::seconds, line, at, at);
  }
  if (!good_number<Explain>(why, field::seconds, line, at, p, sec)) {
    return false;
  }
  at = skip_blanks(p);
  p = scan_number(at, &ms);
  mark_field<Explain>(why, field::milliseconds, at, p);
  if (p == nullptr) {
    return no_event<Explain>(why, field_fault::missing, field::milliseconds, line, at, at);
  }
  if (!good_number<Explain>(why, field::milliseconds, line, at, p, ms)) {
    return false;
  }
  // Exact, not modulo 2^32: a wrapped time would put the event in the wrong place.
  std::uint64_t time = sec * 1000 + ms;
  if (time > max_number) {
    return no_event<Explain>(why, field_fault::time_too_late, field::milliseconds, line, at, p,
                             time);
  }
  const char *chan = skip_blanks(p);
  mark_field<Explain>(why, field::channel, chan, nullptr);
  if (*chan == '\n') {
    return no_event<Explain>(why, field_fault::missing, field::channel, line, chan, chan);
  }
  if (*chan < 'a' || *chan > 'p') {
    return no_event<Explain>(why, field_fault::bad_channel, field::channel, line, chan, chan + 1);
  }
  const char *kind = skip_blanks(chan + 1);
  mark_field<Explain>(why, field::kind, kind, nullptr);
  if (*kind == '\n') {
    return no_event<Explain>(why, field_fault::missing, field::kind, line, kind, kind);
  }
  if (*kind != 'P' && *kind != 'D') {
    return no_event<Explain>(why, field_fault::bad_kind, field::kind, line, kind, kind + 1);
  }
  at = skip_blanks(kind + 1);
  p = scan_number(at, &key);
  mark_field<Explain>(why, field::note, at, p);
  if (p == nullptr) {
    return no_event<Explain>(why, field_fault::missing, field::note, line, at, at);
  }
  if (!good_number<Explain>(why, field::note, line, at, p, key)) {
    return false;
  }
  if (key > max_data) {
    return no_event<Explain>(why, field_fault::above_127, field::note, line, at, p, key);
  }
  std::uint8_t status = static_cast<std::uint8_t>((*kind == 'P' ? 0x90 : 0x80) + (*chan - 'a'));
  if constexpr (Explain) {
    e->status = status;
    e->note = static_cast<std::uint8_t>(key);
  }
  // The velocity may be left out after "D", and is then 0.
  at = skip_blanks(p);
  p = scan_number(at, &vel);
  mark_field<Explain>(why, field::velocity, at, p);
  if (p == nullptr) {
    if (*kind == 'P') {
      return no_event<Explain>(why, field_fault::missing, field::velocity, line, at, at);
    }
    vel = 0;
  } else if (!good_number<Explain>(why, field::velocity, line, at, p, vel)) {
    return false;
  } else if (vel > max_data) {
    return no_event<Explain>(why, field_fault::above_127, field::velocity, line, at, p, vel);
  }
  e->time = static_cast<std::uint32_t>(time);
  e->status = status;
  e->note = static_cast<std::uint8_t>(key);
  e->velocity = static_cast<std::uint8_t>(vel);
  return true;
}

bool scan_line(const char *line, timed_event *e) {
  return scan_fields<false>(line, e, nullptr);
}

bool explain_line(const char *line, timed_event *e, field_problem *why) {
  return scan_fields<true>(line, e, why);
}
