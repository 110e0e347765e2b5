// QEV output: MIDI notes written back as QEV text, one event line each in
// the plain form that qev2mid reads fastest, after comment lines that say
// what the file was and what QEV could not keep.
#ifndef QEV2MID_QEV_WRITER_H
#define QEV2MID_QEV_WRITER_H

#include "midi/midi_reader.h"

#include <cstddef>
#include <cstdio>
#include <string>

// The longest event line, "4294967 295 p D 127 127" and its line feed.
inline constexpr std::size_t max_event_line = 24;

// The room format_event needs: it puts each number as four bytes at once.
inline constexpr std::size_t event_line_room = max_event_line + 3;

// Puts one event line at out, which has room for event_line_room bytes:
// SECONDS MILLISECONDS CHANNEL KIND NOTE VELOCITY, milliseconds 0 to 999,
// single spaces, a line feed. Returns its length.
std::size_t format_event(char *out, const midi_note &n);

// What QEV could not keep of the file, counted by kind: "2 program changes,
// 4 meta events"; empty when nothing was dropped.
std::string dropped_summary(const midi_file_info &info);

// The damage a salvage read past, for one line: the first fault with its
// byte, and how many more there were: "track 4 ends inside an event at byte
// 6688, and 1 more fault"; empty when there was none.
std::string damage_summary(const midi_file_info &info);

// Writes the comment lines, then every note that midi_next hands out of the
// reading that midi_open started. name is the input's file name, shown
// without its directory, or null. Returns 0, or -1 when a write failed.
int write_qev(std::FILE *out, midi_reading &reading, const char *name, const midi_file_info &info);

#endif
