// One helper per layer for the table rows: the reader as qev2mid runs it, the
// whole conversion, and the checking pass as records. A change in how a
// layer is driven rewrites these, not the rows.
#ifndef QEV2MID_TEST_LAYERS_H
#define QEV2MID_TEST_LAYERS_H

#include "qev/convert_events.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

// A stream that reads these bytes and goes when it is closed.
std::FILE *stream_of(const std::string &bytes);

using Event = std::array<unsigned, 4>; // delta, status, note, velocity

struct Reading {
  std::vector<Event> events;
  int end; // what the reader returned after the last event
};

// The accepted events of a stream read from its start through next_events,
// as qev2mid reads them; a test fails where parse_cmd, which reads one at a
// time, gives anything else.
Reading read_events(const std::string &text);

// What convert_events writes for the text, from a fresh reader and writer:
// its result and the whole file.
struct Conversion {
  convert_result result;
  std::string bytes;
};
Conversion convert_text(const std::string &text);

// Everything in the stream from its start; closes it.
std::string contents_of(std::FILE *f);

// The checking pass's findings, one string each in file order:
// "LINE:COLUMN SEVERITY CODE", then " ->RELATED" and " +COUNT" where they
// are not 0; and what check_stream returned.
struct Checked {
  std::vector<std::string> findings;
  int end;
};
// during, where given, runs at every record, the accepted events' too.
Checked check_text(const std::string &text, void (*during)(void *) = nullptr, void *arg = nullptr);

#endif
