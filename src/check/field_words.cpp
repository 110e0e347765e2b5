// Skipped lines in words. Each names the character that stands where a
// field should, and adds a hint only where the fix is clear: a decimal
// point, a unit, a note name, a channel given as a number, a letter in the
// wrong case. The bounds come from the field rules' own constants.
#include "field_words.h"

#include "qev/characters.h"
#include "text_out.h"

#include <cstring>

static const char *is_are(field f) {
  return f == field::seconds || f == field::milliseconds ? " are " : " is ";
}

static bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// How to write what a musician meant by text glued to a number.
static char *put_glue_hint(char *out, const char *glued, field to, const char *number) {
  const char *name = look_alike_at(glued);
  if (*glued == '.' && to == field::seconds && is_digit(glued[1])) {
    std::size_t n = 1;
    while (n < 4 && is_digit(glued[n])) {
      ++n;
    }
    if (!is_digit(glued[n])) {
      out = put(out, "; seconds are whole numbers: write ");
      out = put(put_value(out, number, static_cast<std::size_t>(glued - number)), " ");
      out = put_value(out, glued + 1, n - 1);
      for (std::size_t zeros = n; zeros < 4; ++zeros) {
        *out++ = '0';
      }
      out = put_value(put(out, " for "), number, static_cast<std::size_t>(glued + n - number));
      return put(out, " s");
    }
  }
  // m:ss, as track times are written: what the seconds would be.
  auto minutes_digits = static_cast<std::size_t>(glued - number);
  if (*glued == ':' && to == field::seconds && minutes_digits <= 9 && glued[1] >= '0' &&
      glued[1] <= '5' && is_digit(glued[2]) && !is_digit(glued[3])) {
    std::uint64_t minutes = 0;
    for (const char *d = number; d != glued; ++d) {
      minutes = minutes * 10 + static_cast<std::uint64_t>(*d - '0');
    }
    out = put_value(put(out, "; seconds are whole numbers: if "), number, minutes_digits + 3);
    out = put(out, " is minutes and seconds, the seconds are ");
    return put_decimal(out, minutes * 60 + static_cast<std::uint64_t>((glued[1] - '0') * 10) +
                                static_cast<std::uint64_t>(glued[2] - '0'));
  }
  if ((*glued == '.' || *glued == ':') && to == field::seconds) {
    return put(out, "; seconds are whole numbers, and the milliseconds a field of their own");
  }
  if (*glued == ',') {
    return put(out, "; separate the fields with spaces, not commas");
  }
  if (*glued == 'O' || *glued == 'o') {
    return put(out, "; the letter O is not the digit 0");
  }
  if ((*glued == 'x' || *glued == 'X') && glued - number == 1 && *number == '0') {
    out = put(out, "; write numbers in decimal");
    std::uint64_t v = 0;
    std::size_t n = 1;
    for (; n < 9 && std::strchr("0123456789abcdefABCDEF", glued[n]) != nullptr && glued[n] != '\0';
         ++n) {
      v = v * 16 + static_cast<std::uint64_t>(glued[n] <= '9' ? glued[n] - '0'
                                                              : (glued[n] | 0x20) - 'a' + 10);
    }
    if (n > 1 && n < 9) {
      out = put_value(put(out, ": "), number, static_cast<std::size_t>(glued + n - number));
      out = put_decimal(put(out, " is "), v);
    }
    return out;
  }
  if (unit_length(glued) != 0) {
    return put(out, "; write the number alone, without a unit");
  }
  if (name != nullptr && std::strcmp(name, "no-break space") == 0) {
    return put(out, "; write a plain space");
  }
  return out;
}

char *put_glued(char *out, const field_problem &p, bool read_up_to_it) {
  const char *number = p.starts[static_cast<std::size_t>(p.glued_to)];
  auto length = static_cast<std::size_t>(p.glued - number);
  out = put(put_char(out, p.glued), " right after the ");
  out = put_value(put(put(out, field_name(p.glued_to)), " "), number, length);
  if (read_up_to_it) {
    out = put_value(put(out, ", which is read as "), number, length);
  }
  return put_glue_hint(out, p.glued, p.glued_to, number);
}

// Where a field should stand but something else does.
static char *put_not_number(char *out, const field_problem &p) {
  out = put(put(put(put_char(out, p.value), " where the "), field_name(p.where)), " should be");
  unsigned note = 0;
  if (p.where == field::note && read_note_name(p.value, &note) != 0) {
    char name[8];
    std::size_t n = read_note_name(p.value, &note);
    std::memcpy(name, p.value, n);
    name[n] = '\0';
    return put_decimal(put(put(put(out, "; write note numbers: "), name), " is "), note);
  }
  const char *look = look_alike_at(p.value);
  if (look != nullptr && std::strcmp(look, "full-width digit") == 0) {
    return put(out, "; write the digits 0\u20139");
  }
  if (look != nullptr && std::strcmp(look, "no-break space") == 0) {
    return put(out, "; write a plain space");
  }
  bool letter = (*p.value >= 'a' && *p.value <= 'z') || (*p.value >= 'A' && *p.value <= 'Z');
  if (p.where == field::milliseconds && letter) {
    return put(out, "; a line that starts with a number is an event: begin a comment with '#'");
  }
  return out;
}

static char *put_missing(char *out, field f) {
  switch (f) {
  case field::milliseconds:
    return put(out, "the line ends after the seconds, with no milliseconds");
  case field::velocity:
    return put(out, "the note on has no velocity; write one from 1 to 127, or D for a note off");
  default:
    return put(put(out, "the line ends before the "), field_name(f));
  }
}

static char *put_bad_channel(char *out, const char *at) {
  out = put(put_char(out, at), " is not a channel letter, a to p");
  if (*at >= 'A' && *at <= 'P') {
    out = put(out, "; channel letters are lower case: write '");
    *out++ = static_cast<char>(*at - 'A' + 'a');
    return put(out, "'");
  }
  if (!is_digit(*at)) {
    return out;
  }
  out = put(out, "; channels 1\u201316 are the letters a\u2013p");
  unsigned n = static_cast<unsigned>(*at - '0');
  if (is_digit(at[1])) {
    n = n * 10 + static_cast<unsigned>(at[1] - '0');
  }
  if (n >= 1 && n <= 16 && !is_digit(at[n < 10 ? 1 : 2])) {
    out = put_decimal(put(out, ": "), n);
    out = put(out, " is '");
    *out++ = static_cast<char>('a' + n - 1);
    out = put(out, "'");
  }
  return out;
}

char *put_skipped(char *out, const check_record &r) {
  const field_problem &p = r.problem;
  out = put(out, "line skipped: ");
  switch (r.code) {
  case finding_code::glued_text:
    return put_glued(out, p, false);
  case finding_code::missing_field:
    return put_missing(out, p.where);
  case finding_code::not_a_number:
    return put_not_number(out, p);
  case finding_code::bad_channel:
    return put_bad_channel(out, p.value);
  case finding_code::bad_kind:
    out = put(put_char(out, p.value), " is not a kind letter, P (note on) or D (note off)");
    if (*p.value == 'p' || *p.value == 'd') {
      out = put(out, "; kind letters are upper case: write '");
      *out++ = static_cast<char>(*p.value - 'a' + 'A');
      out = put(out, "'");
    }
    return out;
  case finding_code::minus_sign:
    out = put_value(put(put(put(out, "the "), field_name(p.where)), " "), p.value, p.length);
    return put(put(out, is_are(p.where)), "negative");
  case finding_code::number_too_large:
    out = put_value(put(put(put(out, "the "), field_name(p.where)), " "), p.value, p.length);
    return put_decimal(put(put(out, is_are(p.where)), "above "), max_number);
  case finding_code::above_127:
    out = put_value(put(put(out, field_name(p.where)), " "), p.value, p.length);
    out = put_decimal(put(out, " is above "), max_data);
    if (p.where == field::note) {
      char name[8];
      note_name(static_cast<std::uint8_t>(max_data), name);
      return put(put(put(out, ", the highest note ("), name), ")");
    }
    return put(put_decimal(put(out, "; write "), max_data), " for the loudest");
  default:
    out = put_seconds(put(out, "the time "), p.number);
    return put(put_seconds(put(out, " is later than "), max_number),
               ", the latest a MIDI file holds");
  }
}
