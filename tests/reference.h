// The reader's contract written the plain way, byte by byte, with the
// platform's sscanf doing the field scan. The differential tests hold the
// fast reader to it.
#ifndef QEV2MID_REFERENCE_H
#define QEV2MID_REFERENCE_H

#include "qev/text_input.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using Event = std::array<unsigned, 4>; // delta, status, note, velocity

struct ReferenceScan {
  bool valid;
  std::uint32_t time;
  std::uint8_t status, note, velocity;
  bool same_as_plain_format; // the %n positions did not change what sscanf converted
};

// One line, ending in its only line feed: the fields of
// sscanf("%lu %lu %c %c %lu %lu") with the program's rules on top.
ReferenceScan reference_scan(const char *line);

// A whole stream: fgets's contract on a text-mode view (CR LF read as LF,
// 0x1A as the end), the scan above and the skip rules. *end gets what the
// reader must return after the events: -1 or -2.
std::vector<Event> reference_read(std::FILE *in, int *end);

// The lines of a stream as fgets would give them from a text-mode view,
// each ending in its line feed, and how the input ends: end is -1 or -2,
// fault and column say why it is -2, and mark_line is the line on which a
// 0x1A ended the input (0 for none).
struct ReferenceLines {
  std::vector<std::string> lines;
  int end;
  input_fault fault;
  std::size_t column;
  std::uint64_t mark_line;
};
ReferenceLines reference_lines(std::FILE *in);

#endif
