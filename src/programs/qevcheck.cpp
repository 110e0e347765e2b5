// qevcheck: explains every line of a QEV file that qev2mid skips or stops at,
// and every note that will not sound as written, one line per finding in the
// form compilers use, so that editors can jump to it.
#include "platform/platform.h"
#include "put_format.h"
#include "qev/characters.h"
#include "qev/check_pass.h"
#include "qev/finding_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The findings of one run, formatted into one buffer that goes out whole
// lines at a time: a printf per piece cost more than the check itself on a
// file where every line has a finding.
static std::string pending;
static bool found = false;
static bool json = false;
static bool write_failed = false;

static void flush_pending() {
  if (!pending.empty() && !put_text(stdout, pending.data(), pending.size())) {
    write_failed = true;
  }
  pending.clear();
}

static void append_number(std::uint64_t v) {
  char digits[20];
  pending.append(digits, put_decimal(digits, v));
}

// A JSON string: quotes, backslashes and control characters escaped, and
// every byte that starts no UTF-8 character written as U+FFFD, since a file
// name may hold any bytes and JSON text is UTF-8.
static void append_json_string(const char *text) {
  pending += '"';
  for (const char *p = text; *p != '\0';) {
    char32_t cp = 0;
    std::size_t n = *p == '\n' ? 1 : utf8_sequence(p, &cp);
    auto c = static_cast<unsigned char>(*p);
    if (n == 0) {
      pending += "\uFFFD";
      ++p;
      continue;
    }
    if (c == '"' || c == '\\') {
      pending += '\\';
    }
    if (c < 0x20) {
      pending += "\\u00";
      pending += "0123456789abcdef"[c >> 4];
      pending += "0123456789abcdef"[c & 0xF];
    } else {
      pending.append(p, n);
    }
    p += n;
  }
  pending += '"';
}

static void append_json(const check_record &r, const char *path, const char *message) {
  pending += "{\"file\":";
  append_json_string(path);
  pending += ",\"line\":";
  append_number(r.line);
  pending += ",\"column\":";
  append_number(r.column);
  pending += ",\"byte_column\":";
  append_number(r.byte_column);
  pending += ",\"severity\":\"";
  pending += severity_name(r.level);
  pending += "\",\"code\":\"";
  pending += code_names[static_cast<std::size_t>(r.code)];
  pending += "\",\"message\":";
  append_json_string(message);
  if (r.related != 0) {
    pending += ",\"related_line\":";
    append_number(r.related);
  }
  pending += "}\n";
}

// FILE:LINE:COLUMN: SEVERITY: MESSAGE [CODE], as compilers write it.
static void append_text(const check_record &r, const char *path, const char *message) {
  pending += path;
  pending += ':';
  if (r.line != 0) {
    append_number(r.line);
    pending += ':';
    append_number(r.column);
    pending += ':';
  }
  pending += ' ';
  pending += severity_name(r.level);
  pending += ": ";
  pending += message;
  pending += " [";
  pending += code_names[static_cast<std::size_t>(r.code)];
  pending += "]\n";
}

static void report(const check_record &r, void *context) {
  if (r.kind == check_kind::accepted) {
    return;
  }
  found = true;
  char message[max_message];
  finding_message(r, message);
  const char *path = static_cast<const char *>(context);
  if (json) {
    append_json(r, path, message);
  } else {
    append_text(r, path, message);
  }
  if (pending.size() >= 64 * 1024) {
    flush_pending();
  }
}

// Help and version go to standard output, which must take them.
static int finish_output(const char *prog) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout) || std::fclose(stdout) != 0) {
    put_format(stderr, "%s: Error writing standard output\n", prog);
    return 2;
  }
  return 0;
}

int main(int argc, char **argv) {
  platform_start(&argc, &argv);
  const char *prog = argc > 0 && argv[0][0] != '\0' ? argv[0] : "qevcheck";
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    put_format(stdout,
               "Usage: %s [--format=json] QEV-FILE\n"
               "Explains every line of a QEV event file that qev2mid skips or stops at,\n"
               "and every note that will not sound as written, one line per finding in the\n"
               "form FILE:LINE:COLUMN: SEVERITY: MESSAGE [CODE], or with --format=json as\n"
               "one JSON object per line.\n"
               "Exit status: 0 when nothing is found; 1 when something is, but qev2mid\n"
               "converts the file; 2 when qev2mid cannot convert it, or it cannot be checked.\n",
               prog);
    return finish_output(prog);
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    put_format(stdout, "qevcheck %s\n", QEV2MID_VERSION);
    return finish_output(prog);
  }
  int arg = 1;
  if (argc == 3 && std::strcmp(argv[1], "--format=json") == 0) {
    json = true;
    set_binary(stdout);
    arg = 2;
  }
  if (argc != arg + 1) {
    put_format(stderr, "Usage: %s [--format=json] QEV-FILE\n", prog);
    return 2;
  }
  const char *path = argv[arg];
  std::FILE *in = open_input(path);
  if (in == nullptr) {
    put_format(stderr, "%s: File %s not found\n", prog, path);
    return 2;
  }
  int rc = check_stream(in, report, const_cast<char *>(path));
  std::fclose(in);
  flush_pending();
  // A closed standard output is no fault when there was nothing to put on it.
  if (found && (write_failed || finish_output(prog) != 0)) {
    if (write_failed) {
      put_format(stderr, "%s: Error writing standard output\n", prog);
    }
    return 2;
  }
  return rc != 0 ? 2 : found ? 1 : 0;
}
