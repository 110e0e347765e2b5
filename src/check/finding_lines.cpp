// The two forms of a finding's line. The message's words come from the
// checking pass's own formatting; this adds the place, the severity and the
// code around them.
#include "finding_lines.h"

#include "finding_text.h"
#include "qev/characters.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

static void append_number(std::string &out, std::uint64_t v) {
  char digits[20];
  out.append(digits, put_decimal(digits, v));
}

// A JSON string: quotes, backslashes and control characters escaped, and
// every byte that starts no UTF-8 character written as U+FFFD, since a file
// name may hold any bytes and JSON text is UTF-8.
static void append_json_string(std::string &out, const char *text, std::size_t size) {
  out += '"';
  for (const char *p = text, *end = text + size; p < end;) {
    char32_t cp = 0;
    std::size_t n = *p == '\n' || *p == '\0' ? 1 : utf8_sequence(p, &cp);
    auto c = static_cast<unsigned char>(*p);
    if (n == 0) {
      out += "\uFFFD";
      ++p;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
    }
    if (c < 0x20) {
      out += "\\u00";
      out += "0123456789abcdef"[c >> 4];
      out += "0123456789abcdef"[c & 0xF];
    } else {
      out.append(p, n);
    }
    p += n;
  }
  out += '"';
}

// Where an offset of the file stands: its line, and its column in
// characters, both from 1.
static void append_place(std::string &out, const fix_place &place, std::size_t offset,
                         const char *line_key, const char *column_key) {
  const std::vector<std::size_t> &starts = place.starts;
  auto after = std::upper_bound(starts.begin(), starts.end(), offset);
  auto line = static_cast<std::size_t>(after - starts.begin());
  std::size_t start = starts[line - 1];
  std::string text = place.text->substr(start, offset - start) + '\n';
  out += line_key;
  append_number(out, line);
  out += column_key;
  append_number(out, char_column(text.c_str(), text.size()));
}

static void append_fix(std::string &out, const check_fix &fix, const fix_place &place) {
  out += ",\"fix\":{\"title\":";
  append_json_string(out, fix.title, std::strlen(fix.title));
  out += fix.safety == fix_safety::safe ? ",\"applicability\":\"safe\""
                                        : ",\"applicability\":\"unsafe\"";
  if (fix.change != nullptr) {
    out += ",\"change\":";
    append_json_string(out, fix.change, std::strlen(fix.change));
  }
  out += ",\"edits\":[";
  for (const fix_edit &e : fix.edits) {
    out += &e == fix.edits.data() ? "{" : ",{";
    append_place(out, place, e.start, "\"line\":", ",\"column\":");
    append_place(out, place, e.end, ",\"end_line\":", ",\"end_column\":");
    out += ",\"byte_start\":";
    append_number(out, e.start);
    out += ",\"byte_end\":";
    append_number(out, e.end);
    out += ",\"text\":";
    append_json_string(out, e.text.data(), e.text.size());
    out += '}';
  }
  out += "]}";
}

std::vector<std::size_t> line_starts(const std::string &text) {
  std::vector<std::size_t> starts{0};
  for (std::size_t i = text.find('\n'); i != std::string::npos; i = text.find('\n', i + 1)) {
    starts.push_back(i + 1);
  }
  return starts;
}

static void append_json(std::string &out, const check_record &r, const char *path,
                        const char *message, const check_fix *fix, const fix_place *place) {
  out += "{\"file\":";
  append_json_string(out, path, std::strlen(path));
  out += ",\"line\":";
  append_number(out, r.line);
  out += ",\"column\":";
  append_number(out, r.column);
  out += ",\"byte_column\":";
  append_number(out, r.byte_column);
  out += ",\"severity\":\"";
  out += severity_name(r.level);
  out += "\",\"code\":\"";
  out += code_names[static_cast<std::size_t>(r.code)];
  out += "\",\"message\":";
  append_json_string(out, message, std::strlen(message));
  if (r.related != 0) {
    out += ",\"related_line\":";
    append_number(out, r.related);
  }
  if (fix != nullptr && place != nullptr) {
    append_fix(out, *fix, *place);
  }
  out += "}\n";
}

// FILE:LINE:COLUMN: SEVERITY: MESSAGE [CODE], as compilers write it, and
// coloured as they colour it: the place and the message bold, the severity
// in its colour.
static void append_text(std::string &out, const check_record &r, const char *path,
                        const char *message, bool color) {
  static constexpr const char *colors[] = {"\033[1;31m", "\033[1;35m", "\033[1;36m"};
  const char *bold = color ? "\033[1m" : "";
  const char *plain = color ? "\033[0m" : "";
  out += bold;
  out += path;
  out += ':';
  if (r.line != 0) {
    append_number(out, r.line);
    out += ':';
    append_number(out, r.column);
    out += ':';
  }
  out += ' ';
  out += color ? colors[static_cast<std::size_t>(r.level)] : "";
  out += severity_name(r.level);
  out += ':';
  out += plain;
  out += ' ';
  out += bold;
  out += message;
  out += plain;
  out += " [";
  out += code_names[static_cast<std::size_t>(r.code)];
  out += "]\n";
}

void append_finding(std::string &out, const check_record &r, const char *path, line_form form,
                    const check_fix *fix, const fix_place *place) {
  char message[max_message];
  finding_message(r, message);
  if (form == line_form::json) {
    append_json(out, r, path, message, fix, place);
  } else {
    append_text(out, r, path, message, form == line_form::color);
  }
}
