// What the MIDI reader's parts share: big-endian fields, the fault record,
// the file's header, and a track's events as a cursor reads them.
#ifndef QEV2MID_MIDI_PARSE_H
#define QEV2MID_MIDI_PARSE_H

#include "midi_file.h"
#include "midi_time.h"
#include "platform/printf_check.h"

#include <cstddef>
#include <cstdint>

inline std::uint32_t be32(const std::uint8_t *p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

inline unsigned be16(const std::uint8_t *p) {
  return static_cast<unsigned>(p[0]) << 8 | p[1];
}

// Fills in the fault, where one was asked for: the reason, with value in
// it, and the offset. Returns false, for the caller to return. It takes one
// value, not a list: a track's events, read in the hot loop, call it, and
// a call with a variable list keeps that loop from being inlined.
bool midi_fail(midi_fault *f, std::size_t offset, const char *format, unsigned value = 0);

// The same with any values, for the faults of the file's chunks.
[[gnu::format(QEV2MID_PRINTF, 3, 4)]] bool midi_failf(midi_fault *f, std::size_t offset,
                                                      const char *format, ...);

// Notes the fault as damage a salvage reads past, in track (0 for none).
void note_damage(midi_file_info *info, const midi_fault &f, unsigned track);

// The header chunk of the file's bytes, behind a RIFF RMID wrapper if there
// is one: fills info and sets the map's timing. *pos is where the chunks
// after it start, *end where the MIDI data ends. A salvage finds an MThd
// that a wrapper hides, and reads a header whose length lies as 6 bytes.
bool read_header(const std::uint8_t *bytes, std::size_t size, std::size_t *pos, std::size_t *end,
                 midi_file_info *info, tempo_map &map, midi_fault *f, bool salvage);

// Whether four bytes may be a chunk's type: printable ASCII, as every
// chunk type is.
bool chunk_type_at(const std::uint8_t *p);

// Zeros to the end pad a file out; they hold no chunk.
bool zeros_to_end(const std::uint8_t *bytes, std::size_t pos, std::size_t end);

// A track as it is read: the next event's offset and the track's end (both
// into the whole file's bytes), the running status and the tick reached.
struct track_cursor {
  const std::uint8_t *bytes;
  std::size_t p, end;
  std::uint8_t running;
  std::uint64_t tick;
};

enum class event_kind { note, channel, sysex, meta, tempo, end_of_track, filler };

struct track_event {
  event_kind k;
  dropped_kind what; // for a channel message that is no note
  std::uint8_t status, data1, data2;
  std::uint32_t tempo;
  std::uint64_t tick;
  std::size_t offset; // of its status byte
};

// Reads the event at the cursor and moves past it. False, with the fault
// where one is asked for, when the track's bytes do not hold one; track_no
// counts from 1, for the message.
bool read_event(track_cursor &c, track_event &e, midi_fault *f, unsigned track_no);

#endif
