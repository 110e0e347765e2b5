// The MIDI reader. A first pass reads every track, checks every byte and
// gathers the tempo changes; a second hands out the notes, merging the
// tracks with a cursor each, by exact time (midi_time.h).
#include "midi_reader.h"

#include "midi_salvage.h"

#include <algorithm>
#include <cstdio>

static constexpr std::uint64_t max_ms = 0xFFFFFFFF;

// Refuses the file when the last note of a track, and so every note after
// it, would be later than QEV can write.
static bool in_time(const midi_reading &r, const midi_track &t, midi_fault *f) {
  if (!t.has_note || to_ms(r.map, exact_at(r.map, t.last_note_tick)) <= max_ms) {
    return true;
  }
  midi_fail(f, t.last_note_offset, "a note later than 4294967295 ms");
  if (f != nullptr) {
    f->too_late = true;
  }
  return false;
}

// Reads one track through, counting and checking its events. Its notes are
// counted in locals, which stay in registers over a track of notes; it is
// kept out of its caller, so that its loop does not depend on the caller's.
// A salvage reads with its own copy, which counts the notes sounding, to
// end those the damage leaves on; the plain reading pays nothing for it.
template <bool salvage>
[[gnu::noinline, gnu::flatten]] static bool
read_track(midi_reading &r, midi_track &t, unsigned number, midi_file_info *info, midi_fault *f) {
  std::vector<tempo_change> &changes = r.changes;
  track_cursor c{r.bytes, t.start, t.end, 0, 0};
  t.first_change = changes.size();
  std::uint64_t notes = 0, last_tick = 0;
  std::size_t last_offset = 0;
  track_event e{};
  [[maybe_unused]] midi_fault damage{};
  [[maybe_unused]] std::vector<std::uint16_t> on(salvage ? 16 * 128 : 0);
  while (c.p < c.end) {
    [[maybe_unused]] std::size_t at = c.p;
    [[maybe_unused]] std::uint64_t tick = c.tick;
    if (!read_event(c, e, salvage ? &damage : f, number)) {
      if constexpr (salvage) {
        cut_track(t, at, tick, on, info, damage, number);
        break;
      }
      return false;
    }
    if (e.k == event_kind::end_of_track) {
      t.end = c.p;
      break;
    }
    if (e.k == event_kind::note) {
      ++notes;
      last_tick = e.tick;
      last_offset = e.offset;
      if constexpr (salvage) {
        count_note(on, e);
      }
    } else if (e.k == event_kind::tempo && !info->smpte) {
      changes.push_back({e.tick, e.tempo});
    } else if (e.k != event_kind::filler && e.k != event_kind::tempo) {
      ++info->dropped[static_cast<std::size_t>(e.k == event_kind::sysex  ? dropped_kind::sysex
                                               : e.k == event_kind::meta ? dropped_kind::meta
                                                                         : e.what)];
    }
  }
  info->notes += notes;
  t.has_note = notes != 0 || !t.sounding.empty();
  t.last_note_tick = t.sounding.empty() ? last_tick : t.fault_tick;
  t.last_note_offset = last_offset;
  t.end_tick = c.tick;
  t.end_change = changes.size();
  return true;
}

// A track cut in a salvage ends the notes it left sounding, one a call, at
// the tick where it is cut. Kept out of next_note, whose loop is hot.
[[gnu::cold, gnu::noinline]] static bool added_note(midi_reading &r, std::size_t i,
                                                    std::uint64_t *at) {
  track_merge &c = r.merges[i];
  const midi_track &t = r.tracks[i];
  if (c.added == t.sounding.size()) {
    return false;
  }
  std::uint16_t key = t.sounding[c.added++];
  *at = exact_at(r.map, t.fault_tick);
  c.pending = {static_cast<std::uint32_t>(to_ms(r.map, *at)),
               static_cast<std::uint8_t>(0x80 | key >> 7), static_cast<std::uint8_t>(key & 0x7F), 0,
               true};
  return true;
}

// Moves the cursor of track i to its next note, and gives its exact time.
// False when the track has no more notes.
[[gnu::flatten]] static bool next_note(midi_reading &r, std::size_t i, std::uint64_t *at) {
  track_merge &c = r.merges[i];
  track_event e{};
  while (c.at.p < c.at.end && read_event(c.at, e, nullptr, 0)) {
    if (e.k == event_kind::note) {
      // Most notes fall in the segment of the one before.
      const std::vector<segment> &segments = r.map.segments;
      if (c.seg + 1 < segments.size() && segments[c.seg + 1].tick <= e.tick) {
        c.seg = segment_from(r.map, c.seg, e.tick);
      }
      const segment &s = segments[c.seg];
      *at = advance_at(s, e.tick);
      // No note is later than 2^32 ms, as midi_open made sure.
      std::uint64_t ms = s.whole ? s.ms + (e.tick - s.tick) * s.ms_per_tick : to_ms(r.map, *at);
      c.pending = {static_cast<std::uint32_t>(ms), e.status, e.data1, e.data2};
      return true;
    }
  }
  return r.tracks[i].sounding.empty() ? false : added_note(r, i, at);
}

// Format 2: the tempo map of track i alone, whose changes were gathered in
// order as it was read.
static void build_track_segments(midi_reading &r, std::size_t i, std::uint64_t start_at) {
  const tempo_change *changes = r.changes.data();
  build_segments(r.map, changes + r.tracks[i].first_change, changes + r.tracks[i].end_change,
                 start_at);
}

static void start_track(midi_reading &r, std::size_t i) {
  r.merges[i] = track_merge{{r.bytes, r.tracks[i].start, r.tracks[i].end, 0, 0}, 0, {}};
  if (std::uint64_t at = 0; next_note(r, i, &at)) {
    r.heap.push({at, i});
  }
}

bool midi_may_start(const std::uint8_t *data, std::size_t size) {
  auto at = [&](std::size_t p, const char *id) {
    return size >= p + 4 && std::equal(data + p, data + p + 4, id);
  };
  return at(0, "MThd") || at(0, "RIFF") || at(128, "MThd");
}

bool midi_open(midi_reading &r, const std::uint8_t *data, std::size_t size, midi_file_info *info,
               midi_fault *fault, bool salvage) {
  r = midi_reading{};
  r.bytes = data;
  r.salvage = salvage;
  const std::uint8_t *bytes = data;
  std::vector<midi_track> &tracks = r.tracks;
  *info = midi_file_info{};
  std::size_t pos = 0, end = 0;
  if (!read_header(bytes, size, &pos, &end, info, r.map, fault, salvage)) {
    return false;
  }
  if (!find_tracks(bytes, pos, end, info, tracks, fault, salvage)) {
    return false;
  }
  info->tracks_found = static_cast<unsigned>(tracks.size());
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    auto number = static_cast<unsigned>(i) + 1;
    if (!(salvage ? read_track<true>(r, tracks[i], number, info, fault)
                  : read_track<false>(r, tracks[i], number, info, fault))) {
      return false;
    }
  }
  r.sequential = info->format == 2;
  if (r.sequential) {
    drop_after_damage(r, info);
  }
  r.merges.assign(tracks.size(), track_merge{});
  if (!r.sequential) {
    std::vector<tempo_change> &changes = r.changes;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const tempo_change &a, const tempo_change &b) { return a.tick < b.tick; });
    build_segments(r.map, changes.data(), changes.data() + changes.size(), 0);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      time_damage(r, info, i);
    }
    for (const midi_track &t : tracks) {
      // Past a salvage's cut, a note is not handed out, and so not too late.
      if ((!r.cut || exact_at(r.map, t.last_note_tick) <= r.cut_at) && !in_time(r, t, fault)) {
        return false;
      }
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      start_track(r, i);
    }
    return true;
  }
  // Format 2: each track is a sequence of its own, with its own tempo map,
  // and starts where the one before ended.
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    tracks[i].start_at = at;
    build_track_segments(r, i, at);
    time_damage(r, info, i);
    if (!in_time(r, tracks[i], fault)) {
      return false;
    }
    at = exact_at(r.map, tracks[i].end_tick);
  }
  if (!tracks.empty()) {
    build_track_segments(r, 0, 0);
    start_track(r, 0);
  }
  return true;
}

// The next note of the tracks merged, by exact time, then track. Inlined
// into both its callers, so that midi_next stays in the writer's loop.
[[gnu::always_inline]] static inline bool merged_next(midi_reading &r, midi_note *note) {
  auto &heap = r.heap;
  if (!r.has_front) {
    while (heap.empty()) {
      if (!r.sequential || r.current + 1 >= r.tracks.size()) {
        return false;
      }
      std::size_t i = ++r.current;
      build_track_segments(r, i, r.tracks[i].start_at);
      start_track(r, i);
    }
    r.front = heap.top();
    heap.pop();
    r.has_front = true;
  }
  std::size_t i = r.front.second;
  *note = r.merges[i].pending;
  r.last_at = r.front.first;
  std::uint64_t at = 0;
  if (!next_note(r, i, &at)) {
    r.has_front = false;
    return true;
  }
  // Ties go to the lower track, as the pair compares.
  r.front = {at, i};
  if (!heap.empty() && heap.top() < r.front) {
    heap.push(r.front);
    r.front = heap.top();
    heap.pop();
  }
  return true;
}

bool midi_next(midi_reading &r, midi_note *note) {
  bool got = !r.ending && merged_next(r, note);
  if (r.cut) [[unlikely]] {
    return past_cut(r, note, got);
  }
  return got;
}

std::uint64_t midi_count_notes(midi_reading &r) {
  std::uint64_t count = 0;
  for (midi_note n{}; !r.ending && merged_next(r, &n) && (!r.cut || r.last_at <= r.cut_at);) {
    count += n.added ? 0 : 1;
  }
  return count;
}
