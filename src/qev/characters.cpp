// Characters as a reader sees them: decoding UTF-8 strictly (no overlong
// forms, no surrogates), since a column or a name built on a misread
// sequence would point the musician at the wrong place.
#include "characters.h"

std::size_t utf8_sequence(const char *p, char32_t *cp) {
  auto b0 = static_cast<unsigned char>(p[0]);
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  std::size_t n = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC2 ? 2 : 0;
  if (n == 0 || b0 > 0xF4) {
    return 0;
  }
  char32_t c = b0 & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    auto b = static_cast<unsigned char>(p[i]);
    // The line feed that ends every line stops a cut sequence here.
    if ((b & 0xC0) != 0x80) {
      return 0;
    }
    c = (c << 6) | (b & 0x3F);
  }
  constexpr char32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    return 0;
  }
  *cp = c;
  return n;
}

bool is_control(char32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

std::string printable_name(const char *name, std::size_t most) {
  std::string s;
  for (const char *p = name; *p != '\0';) {
    char32_t cp = 0;
    std::size_t n = utf8_sequence(p, &cp);
    if (n == 0) {
      // A lone byte of 0x80 to 0x9F is a C1 control to a terminal that
      // is not set for UTF-8.
      n = 1;
      cp = static_cast<unsigned char>(*p);
    }
    if (most - s.size() < n) {
      break;
    }
    if (is_control(cp)) {
      s += '?';
    } else {
      s.append(p, n);
    }
    p += n;
  }
  return s;
}

std::size_t char_column(const char *line, std::size_t byte_column) {
  std::size_t column = 1;
  std::size_t i = 0;
  while (i + 1 < byte_column) {
    char32_t cp = 0;
    std::size_t n = utf8_sequence(line + i, &cp);
    i += n == 0 ? 1 : n;
    ++column;
  }
  return column;
}

const char *look_alike_name(char32_t cp) {
  switch (cp) {
  case 0x00A0:
  case 0x202F:
    return "no-break space";
  case 0xFEFF:
    return "byte-order mark";
  case 0x2010:
  case 0x2011:
    return "hyphen";
  case 0x2012:
    return "figure dash";
  case 0x2013:
    return "en dash";
  case 0x2014:
    return "em dash";
  case 0x2212:
    return "minus sign";
  case 0x2018:
  case 0x2019:
    return "curly quote";
  case 0x201C:
  case 0x201D:
    return "curly double quote";
  default:
    return cp >= 0xFF10 && cp <= 0xFF19 ? "full-width digit" : nullptr;
  }
}

std::size_t unit_length(const char *p) {
  // Characters, not pointers: the table needs no relocation and stays read-only.
  static constexpr char units[][5] = {"msec", "ms", "secs", "sec", "s"};
  for (const char *unit : units) {
    std::size_t n = 0;
    while (unit[n] != '\0' && p[n] == unit[n]) {
      ++n;
    }
    bool letter_follows = (p[n] >= 'a' && p[n] <= 'z') || (p[n] >= 'A' && p[n] <= 'Z');
    if (unit[n] == '\0' && !letter_follows) {
      return n;
    }
  }
  return 0;
}

static constexpr char pitch_names[12][3] = {"C",  "C#", "D",  "D#", "E",  "F",
                                            "F#", "G",  "G#", "A",  "A#", "B"};

void note_name(std::uint8_t note, char *out) {
  const char *pitch = pitch_names[note % 12];
  int octave = note / 12 - 1;
  std::size_t n = 0;
  while (*pitch != '\0') {
    out[n++] = *pitch++;
  }
  if (octave < 0) {
    out[n++] = '-';
    octave = -octave;
  }
  out[n++] = static_cast<char>('0' + octave);
  out[n] = '\0';
}

std::size_t read_note_name(const char *p, unsigned *note) {
  static constexpr int steps[7] = {9, 11, 0, 2, 4, 5, 7}; // A to G
  char letter = p[0] >= 'a' && p[0] <= 'g' ? static_cast<char>(p[0] - 'a' + 'A') : p[0];
  if (letter < 'A' || letter > 'G') {
    return 0;
  }
  int pitch = steps[letter - 'A'];
  std::size_t n = 1;
  if (p[n] == '#') {
    ++pitch;
    ++n;
  } else if (p[n] == 'b') {
    --pitch;
    ++n;
  }
  bool minus = p[n] == '-';
  n += minus ? 1 : 0;
  if (p[n] < '0' || p[n] > '9' || (p[n + 1] >= '0' && p[n + 1] <= '9')) {
    return 0;
  }
  int octave = (p[n] - '0') * (minus ? -1 : 1);
  int number = (octave + 1) * 12 + pitch;
  if (number < 0 || number > 127) {
    return 0;
  }
  *note = static_cast<unsigned>(number);
  return n + 1;
}
