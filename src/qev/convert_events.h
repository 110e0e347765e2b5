// The conversion itself, from QEV text to a Standard MIDI File, as qev2mid
// and the web page run it: the reader's events in, the writer's file out.
#ifndef QEV2MID_CONVERT_EVENTS_H
#define QEV2MID_CONVERT_EVENTS_H

#include <cstdio>

enum class convert_result { ok, read_failed, write_failed };

// Writes every event the reader accepts from in, in order, as the whole of
// out: the header, the event track and its length. The reader and the
// writer must be at their start. On a failure out is incomplete, and which
// side failed decides the message.
convert_result convert_events(std::FILE *in, std::FILE *out);

#endif
