// Fixes for one line: each rewrites the line as its hint says, mending all
// of the line's problems of that kind at once, and the rewritten line is
// read again with the converter's rules, to know what it has become.
#include "line_fixes.h"

#include "qev/characters.h"

#include <cstring>

std::string line_text(const char *text) {
  std::size_t n = std::strcspn(text, "\n");
  if (n > 0 && text[n - 1] == '\r') {
    --n;
  }
  return {text, n};
}

static bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

static bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// The spaces that look like a plain one: no-break, the typographic widths,
// the narrow and medium mathematical ones, the ideographic one.
static bool is_unicode_space(char32_t cp) {
  return cp == 0x00A0 || (cp >= 0x2000 && cp <= 0x200A) || cp == 0x202F || cp == 0x205F ||
         cp == 0x3000;
}

// Every Unicode space a plain one, every full-width digit an ASCII one, and
// no byte-order mark.
static std::string plain_characters(const std::string &s) {
  std::string line = s + '\n', out;
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp = 0;
    std::size_t n = utf8_sequence(line.c_str() + i, &cp);
    if (n > 1 && is_unicode_space(cp)) {
      out += ' ';
    } else if (cp == 0xFEFF) {
      // A byte-order mark inside a line, as files joined together leave it.
    } else if (n > 1 && cp >= 0xFF10 && cp <= 0xFF19) {
      out += static_cast<char>('0' + (cp - 0xFF10));
    } else {
      out += line.substr(i, n == 0 ? 1 : n);
    }
    i += n == 0 ? 1 : n;
  }
  return out;
}

// Commas as separators: any comma where no field is separated by a blank,
// else each one a blank follows. "1,5 a" has neither: it may mean 1.5 s.
static std::string without_commas(const std::string &s) {
  bool blanks = s.find_first_of(" \t") != std::string::npos;
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != ',') {
      out += s[i];
    } else if (!blanks) {
      out += ' ';
    } else if (i + 1 >= s.size() || !is_blank(s[i + 1])) {
      out += ',';
    }
  }
  return out;
}

// "1.5 a" as "1 500 a": one to three decimals, and no milliseconds after.
static std::string decimal_seconds(const std::string &s, std::size_t dot) {
  std::size_t n = 0;
  while (n < 4 && dot + 1 + n < s.size() && is_digit(s[dot + 1 + n])) {
    ++n;
  }
  std::size_t after = dot + 1 + n, next = after;
  while (next < s.size() && is_blank(s[next])) {
    ++next;
  }
  if (n == 0 || n > 3 || next == after || next >= s.size() || is_digit(s[next])) {
    return s;
  }
  std::string ms = s.substr(dot + 1, n) + std::string(3 - n, '0');
  return s.substr(0, dot) + " " + ms + s.substr(after);
}

// The number from start, its letters O read as the digit 0.
static std::string o_as_zero(const std::string &s, std::size_t start) {
  std::string out = s;
  for (std::size_t i = start;
       i < out.size() && (is_digit(out[i]) || out[i] == 'O' || out[i] == 'o'); ++i) {
    out[i] = is_digit(out[i]) ? out[i] : '0';
  }
  return out;
}

// "0x7f" as "127": up to eight hexadecimal digits.
static std::string hex_as_decimal(const std::string &s, std::size_t start) {
  std::uint64_t v = 0;
  std::size_t i = start + 2, digits = 0;
  for (; i < s.size() && std::strchr("0123456789abcdefABCDEF", s[i]) != nullptr && digits < 9;
       ++i, ++digits) {
    v = v * 16 + static_cast<std::uint64_t>(s[i] <= '9' ? s[i] - '0' : (s[i] | 0x20) - 'a' + 10);
  }
  if (digits == 0 || digits > 8 || (i < s.size() && !is_blank(s[i]))) {
    return s;
  }
  return s.substr(0, start) + std::to_string(v) + s.substr(i);
}

// The rewritten line and its title for a skipped line, or an accepted one
// read only up to glued text; the line itself where no fix is clear.
static std::string rewrite(const check_record &r, const std::string &s, check_fix *fix) {
  const char **title = &fix->title;
  auto unsafe = [fix](const char *change) {
    fix->safety = fix_safety::unsafe;
    fix->change = change;
  };
  const field_problem &p = r.problem;
  auto at = [&](const char *q) { return static_cast<std::size_t>(q - r.text); };
  const char *bad = r.code == finding_code::glued_text ? p.glued : p.value;
  if (bad != nullptr && at(bad) < s.size()) {
    char32_t cp = 0;
    if (utf8_sequence(bad, &cp) > 1 && is_unicode_space(cp)) {
      *title = "Replace Unicode spaces with plain spaces";
      return plain_characters(s);
    }
    if (cp >= 0xFF10 && cp <= 0xFF19) {
      *title = "Write the digits in ASCII";
      return plain_characters(s);
    }
    if (cp == 0xFEFF) {
      *title = "Remove the byte-order mark";
      return plain_characters(s);
    }
  }
  if (r.code == finding_code::glued_text && p.glued != nullptr) {
    const char *number = p.starts[static_cast<std::size_t>(p.glued_to)];
    if (*p.glued == ',') {
      *title = "Separate the fields with spaces, not commas";
      return without_commas(s);
    }
    if (*p.glued == '.' && p.glued_to == field::seconds) {
      *title = "Write the time as seconds and milliseconds";
      return decimal_seconds(s, at(p.glued));
    }
    if (std::size_t n = unit_length(p.glued); n != 0) {
      *title = "Remove the unit";
      return s.substr(0, at(p.glued)) + s.substr(at(p.glued) + n);
    }
    if (*p.glued == 'O' || *p.glued == 'o') {
      unsafe("guesses that the letter O stands for the digit 0");
      *title = "Read the letter O as the digit 0";
      return o_as_zero(s, at(number));
    }
    if ((*p.glued == 'x' || *p.glued == 'X') && p.glued - number == 1 && *number == '0') {
      unsafe("reads the number as hexadecimal, base 16");
      *title = "Write the number in decimal";
      return hex_as_decimal(s, at(number));
    }
    return s;
  }
  if (r.code == finding_code::bad_kind && (*p.value == 'p' || *p.value == 'd')) {
    *title = "Write the kind letter in upper case";
    std::string out = s;
    out[at(p.value)] = static_cast<char>(*p.value - 'a' + 'A');
    return out;
  }
  if (r.code == finding_code::bad_channel && *p.value >= 'A' && *p.value <= 'P' &&
      *p.value != 'P' && *p.value != 'D') {
    *title = "Write the channel letter in lower case";
    std::string out = s;
    out[at(p.value)] = static_cast<char>(*p.value - 'A' + 'a');
    return out;
  }
  // Channels numbered 1 to 16, as many programs show them.
  if (r.code == finding_code::bad_channel && is_digit(*p.value)) {
    std::size_t n = 0;
    unsigned number = 0;
    while (n < 3 && is_digit(p.value[n])) {
      number = number * 10 + static_cast<unsigned>(p.value[n++] - '0');
    }
    if (number >= 1 && number <= 16 && !is_digit(p.value[n])) {
      unsafe("guesses that the channels are numbered 1 to 16, as a to p");
      *title = "Write the channel as a letter";
      return s.substr(0, at(p.value)) + static_cast<char>('a' + number - 1) +
             s.substr(at(p.value) + n);
    }
  }
  unsigned note = 0;
  if (r.code == finding_code::not_a_number && p.where == field::note) {
    if (std::size_t n = read_note_name(p.value, &note); n != 0) {
      unsafe("guesses the octave: C4 is 60, middle C, which some programs call C3");
      *title = "Write the note as a number";
      return s.substr(0, at(p.value)) + std::to_string(note) + s.substr(at(p.value) + n);
    }
  }
  return s;
}

fix_edit edit_between(std::size_t offset, const std::string &from, const std::string &to) {
  std::size_t a = 0, b = 0;
  while (a < from.size() && a < to.size() && from[a] == to[a]) {
    ++a;
  }
  while (b < from.size() - a && b < to.size() - a &&
         from[from.size() - 1 - b] == to[to.size() - 1 - b]) {
    ++b;
  }
  return {offset + a, offset + from.size() - b, to.substr(a, to.size() - a - b)};
}

bool line_fix(const check_record &r, check_fix *fix) {
  if (r.text == nullptr) {
    return false;
  }
  std::string s = line_text(r.text), fixed = s;
  if (r.kind == check_kind::off_not_sounding) {
    // Kept as a comment, never deleted: what it meant may matter.
    fix->title = "Comment out the note off";
    fix->safety = fix_safety::unsafe;
    fix->change = "takes the note off out of the MIDI file; the line stays, as a comment";
    fix->stage = fix_stage_notes;
    auto at = static_cast<std::size_t>(r.offset);
    fix->edits = {{at, at, "# "}};
    return true;
  }
  if (r.kind == check_kind::hidden_by_bom) {
    fix->title = "Remove the byte-order mark";
    fixed = s.substr(3);
  } else if (r.kind == check_kind::skipped || r.kind == check_kind::glued) {
    fixed = rewrite(r, s, fix);
  }
  if (fixed == s) {
    return false;
  }
  timed_event e{};
  field_problem why{};
  bool event = explain_line((fixed + '\n').c_str(), &e, &why);
  if (r.kind == check_kind::glued) {
    // An accepted event that would change changes what plays.
    bool same = event && e.time == r.event.time && e.status == r.event.status &&
                e.note == r.event.note && e.velocity == r.event.velocity;
    if (!same) {
      fix->safety = fix_safety::unsafe;
      fix->change = "changes the event this line already makes";
    }
  } else {
    fix->makes_event = event;
    fix->time = e.time;
  }
  fix->edits = {edit_between(static_cast<std::size_t>(r.offset), s, fixed)};
  return true;
}
