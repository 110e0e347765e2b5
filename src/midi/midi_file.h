// What the MIDI reader reports of a file: its notes, what else it holds,
// and why it cannot be read.
#ifndef QEV2MID_MIDI_FILE_H
#define QEV2MID_MIDI_FILE_H

#include <array>
#include <cstddef>
#include <cstdint>

// A note on (0x90 | channel) or note off (0x80 | channel), as the file holds it.
struct midi_note {
  std::uint32_t ms;
  std::uint8_t status, note, velocity;
};

// What a file holds besides its notes, which QEV cannot keep.
enum class dropped_kind { program, controller, pitch_bend, aftertouch, sysex, meta, kinds };

struct midi_file_info {
  std::size_t header_at; // where MThd stands: 0, or inside a wrapper
  unsigned format;
  unsigned tracks_announced;
  unsigned tracks_found;
  unsigned tracks_beyond; // whole tracks after those announced, not read
  // Ticks per quarter note, or with SMPTE timing frames per second (24, 25,
  // 29 for 30 drop-frame, 30) and ticks per frame.
  bool smpte;
  unsigned ticks_per_quarter, frames_per_second, ticks_per_frame;
  std::uint64_t notes;
  std::array<std::uint64_t, static_cast<std::size_t>(dropped_kind::kinds)> dropped;
};

// Why a file cannot be read, or its notes cannot be written as QEV: a reason
// that names what was wrong, and the byte offset (from 0) where it is.
struct midi_fault {
  char reason[128];
  std::size_t offset;
  bool too_late; // a note later than 4294967295 ms; the file itself is sound
};

#endif
