#include "event_reader.h"

#include <cstring>

std::uint32_t curtime = 0;

// Room for 998 characters, a line feed and the terminating NUL.
static constexpr int line_size = 1000;

// QEV files come from systems whose text mode turns CR LF into LF and treats
// 0x1A as the end of the file; reading here must see the same lines.
static constexpr int eof_mark = 0x1A;

// fgets on a text-mode view of the stream: at most size - 1 characters, up to
// and including a line feed. Returns the number of characters stored, 0 at the
// end of the input when nothing was read, -1 on a read error.
static int read_line(std::FILE *in, char *buf, int size) {
  int n = 0;
  while (n < size - 1) {
    int c = getc(in);
    if (c == EOF) {
      break;
    }
    if (c == eof_mark) {
      // Pushed back, so that every later read stops here as well.
      ungetc(c, in);
      break;
    }
    if (c == '\r') {
      int next = getc(in);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        ungetc(next, in);
      }
    }
    buf[n++] = static_cast<char>(c);
    if (c == '\n') {
      break;
    }
  }
  if (ferror(in)) {
    return -1;
  }
  buf[n] = '\0';
  return n;
}

static constexpr unsigned long max_u32 = 0xFFFFFFFFUL;

// A number the scan converted is usable only when it was written without a
// minus sign and fits in 32 bits; a wrapped value would be a wrong event.
static bool good_number(const char *begin, const char *end, unsigned long value) {
  return value <= max_u32 &&
         std::memchr(begin, '-', static_cast<std::size_t>(end - begin)) == nullptr;
}

bool scan_line(const char *line, std::uint32_t *time, std::uint8_t *status, std::uint8_t *note,
               std::uint8_t *velocity) {
  unsigned long sec = 0, ms = 0, key = 0, vel = 0;
  char chan = 0, kind = 0;
  // The %n pairs mark where each number's text starts and ends, for the sign
  // test; they do not change what is converted or counted.
  int b1 = 0, e1 = 0, b2 = 0, e2 = 0, b5 = 0, e5 = 0, b6 = 0, e6 = 0;
  int n = std::sscanf(line, " %n%lu%n %n%lu%n %c %c %n%lu%n %n%lu%n", &b1, &sec, &e1, &b2, &ms, &e2,
                      &chan, &kind, &b5, &key, &e5, &b6, &vel, &e6);
  if (n < 5 || chan < 'a' || chan > 'p' || (kind != 'P' && kind != 'D') || (kind == 'P' && n < 6)) {
    return false;
  }
  if (!good_number(line + b1, line + e1, sec) || !good_number(line + b2, line + e2, ms) ||
      !good_number(line + b5, line + e5, key) ||
      (n == 6 && !good_number(line + b6, line + e6, vel))) {
    return false;
  }
  // Data bytes stop at 127: a byte of 128 or more is a status byte to every
  // MIDI reader, and the file would fall out of step.
  if (key > 127 || (n == 6 && vel > 127)) {
    return false;
  }
  // Exact, not modulo 2^32: a wrapped time would put the event in the wrong place.
  std::uint64_t t = static_cast<std::uint64_t>(sec) * 1000 + ms;
  if (t > max_u32) {
    return false;
  }
  *time = static_cast<std::uint32_t>(t);
  *status = static_cast<std::uint8_t>((kind == 'P' ? 0x90 : 0x80) + (chan - 'a'));
  *note = static_cast<std::uint8_t>(key);
  *velocity = static_cast<std::uint8_t>(n == 6 ? vel : 0);
  return true;
}

int parse_cmd(std::FILE *in, std::uint32_t *delta, std::uint8_t *status, std::uint8_t *note,
              std::uint8_t *velocity) {
  char line[line_size];
  for (;;) {
    int len = read_line(in, line, line_size);
    if (len == 0) {
      return -1;
    }
    // Too long, cut off by the end of the file, or holding a NUL: the line
    // cannot be trusted, and neither can the rest of the file.
    if (len < 0 || std::strlen(line) != static_cast<std::size_t>(len) || line[len - 1] != '\n') {
      return -2;
    }
    std::uint32_t time = 0;
    std::uint8_t st = 0, key = 0, vel = 0;
    // Invalid lines are comments, and earlier events are dropped, silently.
    if (!scan_line(line, &time, &st, &key, &vel) || time < curtime) {
      continue;
    }
    *delta = time - curtime;
    *status = st;
    *note = key;
    *velocity = vel;
    curtime = time;
    return 0;
  }
}
