// Exact time in a MIDI file. Times stay exact until a note is handed out: a
// tick's time is a count of units, at = sum(ticks x rate), and its
// milliseconds are at / den rounded halves up. With ticks per quarter note
// the rate is the tempo in us per quarter note and den is 1000 x division;
// with SMPTE timing the rate is 1000 (1001 for 30 drop-frame) and den is
// frames per second x ticks per frame. Rounding each delta and adding them
// up would drift.
#ifndef QEV2MID_MIDI_TIME_H
#define QEV2MID_MIDI_TIME_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The tempo before any Set Tempo: 120 quarter notes a minute.
inline constexpr std::uint32_t midi_default_tempo = 500000;

struct tempo_change {
  std::uint64_t tick;
  std::uint32_t tempo;
};

// From tick on, time runs at rate units a tick; at is the time at tick.
// Where both are whole milliseconds, as in every file qev2mid writes, a
// note's milliseconds need no division: ms at tick, and ms_per_tick.
struct segment {
  std::uint64_t tick, at;
  std::uint32_t rate;
  bool whole;
  std::uint64_t ms, ms_per_tick;
};

// A tempo map: its segments from tick 0 on, in order of tick, the rate
// before any tempo change, and the units in a millisecond (den).
struct tempo_map {
  std::vector<segment> segments;
  std::uint32_t default_rate = midi_default_tempo;
  std::uint64_t den = 1;
};

// The rate before any tempo change, and the units in a millisecond.
void set_timing(tempo_map &map, std::uint32_t default_rate, std::uint64_t units_per_ms);

// The segments of the changes from first to last, in order of tick,
// starting at start_at. Several changes at one tick apply in order, so the
// last wins.
void build_segments(tempo_map &map, const tempo_change *first, const tempo_change *last,
                    std::uint64_t start_at);

// The segment in force at tick, searched for from segment from on, which is
// at or before it. The search gallops, so that a track whose notes lie far
// apart pays the logarithm of the tempo changes between them, not their
// number: a file's many tracks must not each walk its whole tempo map.
std::size_t segment_from(const tempo_map &map, std::size_t from, std::uint64_t tick);

// The time at tick, from the segment in force there; past 64 bits, the
// largest value, which is far beyond any time QEV can hold.
std::uint64_t advance_at(const segment &s, std::uint64_t tick);

// The same, finding the segment.
std::uint64_t exact_at(const tempo_map &map, std::uint64_t tick);

// Milliseconds, halves up.
std::uint64_t to_ms(const tempo_map &map, std::uint64_t at);

#endif
