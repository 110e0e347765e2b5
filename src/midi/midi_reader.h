// MIDI input: reads a whole Standard MIDI File from bytes in memory (formats
// 0, 1 and 2, ticks per quarter note or SMPTE timing, a RIFF RMID wrapper)
// and hands out its note events in order of time, each at its exact time
// rounded to the millisecond.
#ifndef QEV2MID_MIDI_READER_H
#define QEV2MID_MIDI_READER_H

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
  unsigned format;
  unsigned tracks_announced;
  unsigned tracks_found;
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
  char reason[96];
  std::size_t offset;
  bool too_late; // a note later than 4294967295 ms; the file itself is sound
};

// How many of a file's first bytes tell whether it may be MIDI: enough for
// an MThd behind a 128-byte MacBinary header.
inline constexpr std::size_t midi_head_size = 132;

// Whether the first bytes of a file (midi_head_size of them, or the whole
// of a shorter file) may begin a MIDI file: an MThd, a RIFF wrapper, or an
// MThd behind a MacBinary header. The rest of anything else need not be
// read, which may never end; midi_open refuses it.
bool midi_may_start(const std::uint8_t *data, std::size_t size);

// Reads and checks the whole file before anything is handed out. Returns
// false, with the fault, when it cannot be read or a note is too late. data
// must stay valid while the notes are read.
bool midi_open(const std::uint8_t *data, std::size_t size, midi_file_info *info, midi_fault *fault);

// After midi_open succeeded: the next note by exact time, then by track, then
// by its place in the track. False when there are no more.
bool midi_next(midi_note *note);

#endif
