// What the MIDI reader reports of a file: its notes, what else it holds,
// and why it cannot be read.
#ifndef QEV2MID_MIDI_FILE_H
#define QEV2MID_MIDI_FILE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// A note on (0x90 | channel) or note off (0x80 | channel), as the file holds
// it; or, in a salvage, a note off added for a note left sounding where the
// file is damaged, with velocity 0.
struct midi_note {
  std::uint32_t ms;
  std::uint8_t status, note, velocity;
  bool added = false;
};

// What a salvage read past, in the words the default refuses it with: the
// reason, its byte, and the track it is in (from 1; 0 for none). Where a
// track is cut there, its notes after lost_after ms are lost.
struct midi_damage {
  char reason[128];
  std::size_t offset;
  unsigned track;
  bool timed;
  std::uint32_t lost_after;
};

// What a file holds besides its notes, which QEV cannot keep.
enum class dropped_kind { program, controller, pitch_bend, aftertouch, sysex, meta, kinds };

struct midi_file_info {
  std::size_t header_at; // where MThd stands: 0, or inside a wrapper
  unsigned format;
  unsigned tracks_announced;
  unsigned tracks_found;
  unsigned tracks_beyond; // whole tracks after those announced, read only by a salvage
  // Ticks per quarter note, or with SMPTE timing frames per second (24, 25,
  // 29 for 30 drop-frame, 30) and ticks per frame.
  bool smpte;
  unsigned ticks_per_quarter, frames_per_second, ticks_per_frame;
  std::uint64_t notes;
  std::array<std::uint64_t, static_cast<std::size_t>(dropped_kind::kinds)> dropped;
  // A salvage's findings. Where a damaged track may have changed the tempo
  // past its damage, no note after cut_ms is written (cut, by cut_track);
  // in format 2 the tracks after a damaged one are lost (tracks_lost).
  std::vector<midi_damage> damage;
  bool cut;
  std::uint32_t cut_ms;
  unsigned cut_track, tracks_lost;
};

// Why a file cannot be read, or its notes cannot be written as QEV: a reason
// that names what was wrong, and the byte offset (from 0) where it is.
struct midi_fault {
  char reason[128];
  std::size_t offset;
  bool too_late; // a note later than 4294967295 ms; the file itself is sound
};

#endif
