#include "reference.h"

#include <cstring>

namespace {

constexpr unsigned long long max_u32 = 0xFFFFFFFFULL;

// fgets(buf, size, in) on a text-mode view of in. Returns the number of
// characters stored, 0 at the end of the input, -1 on a read error.
int read_line(std::FILE *in, char *buf, int size) {
  int n = 0;
  while (n < size - 1) {
    int c = std::getc(in);
    if (c == EOF) {
      break;
    }
    if (c == 0x1A) {
      std::ungetc(c, in); // every later read ends here too
      break;
    }
    if (c == '\r') {
      int next = std::getc(in);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, in);
      }
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') {
      break;
    }
  }
  if (std::ferror(in)) {
    return -1;
  }
  buf[n] = '\0';
  return n;
}

bool good_number(const char *begin, const char *end, unsigned long long value) {
  return value <= max_u32 &&
         std::memchr(begin, '-', static_cast<std::size_t>(end - begin)) == nullptr;
}

} // namespace

ReferenceScan reference_scan(const char *line) {
  ReferenceScan r{false, 0, 0, 0, 0, true};
  // %llu rather than %lu, which is 32 bits wide on some systems; where long
  // has 64 bits the two are the same.
  unsigned long long sec = 0, ms = 0, key = 0, vel = 0;
  char chan = 0, kind = 0;
  int b1 = 0, e1 = 0, b2 = 0, e2 = 0, b5 = 0, e5 = 0, b6 = 0, e6 = 0;
  int n = std::sscanf(line, " %n%llu%n %n%llu%n %c %c %n%llu%n %n%llu%n", &b1, &sec, &e1, &b2, &ms,
                      &e2, &chan, &kind, &b5, &key, &e5, &b6, &vel, &e6);

  // The format itself, to prove the %n directives changed nothing.
  unsigned long long psec = 0, pms = 0, pkey = 0, pvel = 0;
  char pchan = 0, pkind = 0;
  int pn =
      std::sscanf(line, "%llu %llu %c %c %llu %llu", &psec, &pms, &pchan, &pkind, &pkey, &pvel);
  r.same_as_plain_format = (n < 0 ? pn < 0 : pn == n) && psec == sec && pms == ms &&
                           pchan == chan && pkind == kind && pkey == key && pvel == vel;

  if (n < 5 || chan < 'a' || chan > 'p' || (kind != 'P' && kind != 'D') || (kind == 'P' && n < 6)) {
    return r;
  }
  if (!good_number(line + b1, line + e1, sec) || !good_number(line + b2, line + e2, ms) ||
      !good_number(line + b5, line + e5, key) ||
      (n == 6 && !good_number(line + b6, line + e6, vel))) {
    return r;
  }
  if (key > 127 || (n == 6 && vel > 127)) {
    return r;
  }
  std::uint64_t t = static_cast<std::uint64_t>(sec) * 1000 + ms;
  if (t > max_u32) {
    return r;
  }
  r.valid = true;
  r.time = static_cast<std::uint32_t>(t);
  r.status = static_cast<std::uint8_t>((kind == 'P' ? 0x90 : 0x80) + (chan - 'a'));
  r.note = static_cast<std::uint8_t>(key);
  r.velocity = static_cast<std::uint8_t>(n == 6 ? vel : 0);
  return r;
}

ReferenceLines reference_lines(std::FILE *in) {
  ReferenceLines r{{}, -1, input_fault::none, 0, 0};
  char line[1000];
  for (;;) {
    int len = read_line(in, line, sizeof line);
    int next = std::getc(in);
    bool at_mark = next == 0x1A;
    std::ungetc(next, in);
    if (len == 0) {
      r.mark_line = at_mark ? r.lines.size() + 1 : 0;
      return r;
    }
    r.end = -2;
    auto n = static_cast<std::size_t>(len);
    if (len < 0) {
      r.fault = input_fault::read_failed;
    } else if (std::strlen(line) != n) {
      r.fault = input_fault::nul;
      r.column = std::strlen(line) + 1;
    } else if (line[n - 1] == '\n') {
      r.end = -1;
      r.lines.emplace_back(line, n);
      continue;
    } else if (n == sizeof line - 1) {
      r.fault = input_fault::too_long;
    } else if (at_mark) {
      r.fault = input_fault::mark_in_line;
      r.column = n + 1;
      r.mark_line = r.lines.size() + 1;
    } else {
      r.fault = input_fault::no_line_feed;
    }
    return r;
  }
}

std::vector<Event> reference_read(std::FILE *in, int *end) {
  std::vector<Event> events;
  std::uint32_t now = 0;
  char line[1000];
  for (;;) {
    int len = read_line(in, line, sizeof line);
    if (len == 0) {
      *end = -1;
      return events;
    }
    if (len < 0 || std::strlen(line) != static_cast<std::size_t>(len) || line[len - 1] != '\n') {
      *end = -2;
      return events;
    }
    ReferenceScan s = reference_scan(line);
    if (s.valid && s.time >= now) {
      events.push_back({s.time - now, s.status, s.note, s.velocity});
      now = s.time;
    }
  }
}
