// MIDI input: reads a whole Standard MIDI File from bytes in memory (formats
// 0, 1 and 2, ticks per quarter note or SMPTE timing, a RIFF RMID wrapper)
// and hands out its note events in order of time, each at its exact time
// rounded to the millisecond.
#ifndef QEV2MID_MIDI_READER_H
#define QEV2MID_MIDI_READER_H

#include "midi_file.h"
#include "midi_parse.h"
#include "midi_time.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

// How many of a file's first bytes tell whether it may be MIDI: enough for
// an MThd behind a 128-byte MacBinary header.
inline constexpr std::size_t midi_head_size = 132;

// Whether the first bytes of a file (midi_head_size of them, or the whole
// of a shorter file) may begin a MIDI file: an MThd, a RIFF wrapper, or an
// MThd behind a MacBinary header. The rest of anything else need not be
// read, which may never end; midi_open refuses it.
bool midi_may_start(const std::uint8_t *data, std::size_t size);

// A track chunk as the first pass found it.
struct midi_track {
  std::size_t start, end; // end is just past its End of Track, if it has one
  std::uint64_t end_tick;
  std::uint64_t start_at; // format 2: where the sequence begins
  // Its tempo changes in changes[first_change, end_change): in format 2,
  // its own tempo map.
  std::size_t first_change, end_change;
  bool has_note;
  std::uint64_t last_note_tick;
  std::size_t last_note_offset;
  // In a salvage, a track cut where it is damaged: the tick of its last
  // whole event, and its notes still sounding there, each channel << 7 |
  // note, which a note off added at that tick ends.
  bool damaged = false;
  std::uint64_t fault_tick = 0;
  std::vector<std::uint16_t> sounding{};
};

// A track being merged: where its reading stands, the tempo segment of its
// last note, and its next note.
struct track_merge {
  track_cursor at;
  std::size_t seg;
  midi_note pending;
  std::size_t added = 0; // of its track's note offs added in a salvage
};

using note_due = std::pair<std::uint64_t, std::size_t>; // exact time, track

// One file's reading, which its caller owns and midi_open starts afresh:
// the file's bytes, its tracks and tempo changes, the tempo map in force,
// and the merge of the tracks' notes.
struct midi_reading {
  const std::uint8_t *bytes = nullptr;
  std::vector<midi_track> tracks;
  std::vector<tempo_change> changes;
  std::vector<track_merge> merges;
  tempo_map map;
  bool sequential = false; // format 2: each track after the one before
  std::size_t current = 0;
  std::priority_queue<note_due, std::vector<note_due>, std::greater<>> heap;
  // The note due next, held out of the heap: a track that stays ahead, as
  // the only track with notes does, then costs the heap nothing.
  bool has_front = false;
  note_due front{};
  std::uint64_t last_at = 0; // the exact time of the note last handed out
  // A salvage: no note after cut_at (cut_ms) is handed out, and the notes
  // sounding there, counted in on by channel << 7 | note, end there.
  bool salvage = false, cut = false, ending = false;
  std::uint64_t cut_at = 0;
  std::uint32_t cut_ms = 0;
  std::vector<std::uint16_t> on;
  std::size_t end_key = 0;
};

// Reads and checks the whole file before anything is handed out. Returns
// false, with the fault, when it cannot be read or a note is too late. data
// must stay valid while the notes are read. A salvage reads what can be
// read with certainty past damage, which it lists in info (midi_salvage.h),
// and fails only where the header is unusable or a note is too late.
bool midi_open(midi_reading &r, const std::uint8_t *data, std::size_t size, midi_file_info *info,
               midi_fault *fault, bool salvage = false);

// After midi_open succeeded: the next note by exact time, then by track, then
// by its place in the track. False when there are no more.
bool midi_next(midi_reading &r, midi_note *note);

// After midi_open: how many of the file's notes midi_next would hand out,
// those a salvage adds not counted. It reads them all; a new midi_open
// starts again.
std::uint64_t midi_count_notes(midi_reading &r);

#endif
