// A salvage: what can be read with certainty of a damaged file. Each track
// is read up to its first fault, keeping its last whole event, and a note
// it leaves sounding there is ended by a note off added at that point. Past
// damage to a track that may have held tempo changes, no note can be timed
// with certainty, so none after it is handed out; in format 2, where each
// track starts where the one before ended, the tracks after a damaged one
// are lost.
#ifndef QEV2MID_MIDI_SALVAGE_H
#define QEV2MID_MIDI_SALVAGE_H

#include "midi_parse.h"
#include "midi_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The tracks in the chunks from pos to end (midi_chunks.cpp). False, with
// the fault, where they cannot be found; a salvage notes each fault in info
// and reads on.
bool find_tracks(const std::uint8_t *bytes, std::size_t pos, std::size_t end, midi_file_info *info,
                 std::vector<midi_track> &tracks, midi_fault *f, bool salvage);

// Counts a note event in on, by channel << 7 | note: a note on with a
// velocity starts one, any other ends one that is sounding.
void count_note(std::vector<std::uint16_t> &on, const track_event &e);

// Cuts track number (from 1) at the event at offset at, its last whole one
// at tick, with the notes on holds sounding there, and notes the damage.
void cut_track(midi_track &t, std::size_t at, std::uint64_t tick,
               const std::vector<std::uint16_t> &on, midi_file_info *info, const midi_fault &damage,
               unsigned number);

// Format 2: drops the tracks after the first damaged one.
void drop_after_damage(midi_reading &r, midi_file_info *info);

// Once the tempo map of track i is built: the time its damage loses its
// notes after, and, in formats 0 and 1, where that damage may have lost
// tempo changes, the time after which no note is handed out.
void time_damage(midi_reading &r, midi_file_info *info, std::size_t i);

// midi_next where a salvage cuts every track: the note it got from the
// merge (where got) if it is not past the cut, else a note off for each
// note still sounding at the cut. False when there are no more.
bool past_cut(midi_reading &r, midi_note *note, bool got);

#endif
