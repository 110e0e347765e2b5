// The MIDI reader. A first pass reads every track, checks every byte and
// gathers the tempo changes; a second hands out the notes, merging the
// tracks with a cursor each, by exact time (midi_time.h).
#include "midi_reader.h"

#include "midi_parse.h"
#include "midi_time.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

static constexpr std::uint64_t max_ms = 0xFFFFFFFF;

struct track {
  std::size_t start, end; // end is just past its End of Track, if it has one
  std::uint64_t end_tick;
  std::uint64_t start_at; // format 2: where the sequence begins
  // Its tempo changes in changes[first_change, end_change): in format 2,
  // its own tempo map.
  std::size_t first_change, end_change;
  bool has_note;
  std::uint64_t last_note_tick;
  std::size_t last_note_offset;
};

// A track being merged: where its reading stands, the tempo segment of its
// last note, and its next note.
struct cursor {
  track_cursor at;
  std::size_t seg;
  midi_note pending;
};

static const std::uint8_t *bytes = nullptr;
static std::vector<track> tracks;
static std::vector<tempo_change> changes;
static std::vector<cursor> cursors;
static bool sequential = false; // format 2: each track after the one before
static std::size_t current = 0;
using due = std::pair<std::uint64_t, std::size_t>; // exact time, track
static std::priority_queue<due, std::vector<due>, std::greater<>> heap;
// The note due next, held out of the heap: a track that stays ahead, as the
// only track with notes does, then costs the heap nothing.
static bool has_front = false;
static due front;

// Refuses the file when the last note of a track, and so every note after
// it, would be later than QEV can write.
static bool in_time(const track &t, midi_fault *f) {
  if (!t.has_note || to_ms(exact_at(t.last_note_tick)) <= max_ms) {
    return true;
  }
  midi_fail(f, t.last_note_offset, "a note later than 4294967295 ms");
  if (f != nullptr) {
    f->too_late = true;
  }
  return false;
}

// Reads one track through, counting and checking its events.
static bool read_track(track &t, unsigned number, midi_file_info *info, midi_fault *f) {
  track_cursor c{bytes, t.start, t.end, 0, 0};
  t.first_change = changes.size();
  track_event e{};
  while (c.p < c.end) {
    if (!read_event(c, e, f, number)) {
      return false;
    }
    if (e.k == event_kind::end_of_track) {
      t.end = c.p;
      break;
    }
    if (e.k == event_kind::note) {
      ++info->notes;
      t.has_note = true;
      t.last_note_tick = e.tick;
      t.last_note_offset = e.offset;
    } else if (e.k == event_kind::tempo && !info->smpte) {
      changes.push_back({e.tick, e.tempo});
    } else if (e.k != event_kind::filler && e.k != event_kind::tempo) {
      ++info->dropped[static_cast<std::size_t>(e.k == event_kind::sysex  ? dropped_kind::sysex
                                               : e.k == event_kind::meta ? dropped_kind::meta
                                                                         : e.what)];
    }
  }
  t.end_tick = c.tick;
  t.end_change = changes.size();
  return true;
}

// Moves the cursor of track i to its next note, and gives its exact time.
// False when the track has no more notes.
static bool next_note(std::size_t i, std::uint64_t *at) {
  cursor &c = cursors[i];
  track_event e{};
  while (c.at.p < c.at.end && read_event(c.at, e, nullptr, 0)) {
    if (e.k == event_kind::note) {
      c.seg = segment_from(c.seg, e.tick);
      const segment &s = segments[c.seg];
      *at = advance_at(s, e.tick);
      // No note is later than 2^32 ms, as midi_open made sure.
      std::uint64_t ms = s.whole ? s.ms + (e.tick - s.tick) * s.ms_per_tick : to_ms(*at);
      c.pending = {static_cast<std::uint32_t>(ms), e.status, e.data1, e.data2};
      return true;
    }
  }
  return false;
}

// Format 2: the tempo map of track i alone, whose changes were gathered in
// order as it was read.
static void build_track_segments(std::size_t i, std::uint64_t start_at) {
  build_segments(changes.data() + tracks[i].first_change, changes.data() + tracks[i].end_change,
                 start_at);
}

static void start_track(std::size_t i) {
  cursors[i] = cursor{{bytes, tracks[i].start, tracks[i].end, 0, 0}, 0, {}};
  if (std::uint64_t at = 0; next_note(i, &at)) {
    heap.push({at, i});
  }
}

bool midi_may_start(const std::uint8_t *data, std::size_t size) {
  auto at = [&](std::size_t p, const char *id) {
    return size >= p + 4 && std::equal(data + p, data + p + 4, id);
  };
  return at(0, "MThd") || at(0, "RIFF") || at(128, "MThd");
}

bool midi_open(const std::uint8_t *data, std::size_t size, midi_file_info *info,
               midi_fault *fault) {
  bytes = data;
  *info = midi_file_info{};
  tracks.clear();
  changes.clear();
  heap = {};
  has_front = false;
  set_timing(midi_default_tempo, 1);
  std::size_t pos = 0, end = 0;
  if (!read_header(bytes, size, &pos, &end, info, fault)) {
    return false;
  }
  // Chunks other than MTrk are skipped; reading stops after the number of
  // tracks announced, and fewer whole chunks than that is no error.
  while (tracks.size() < info->tracks_announced && pos < end) {
    if (end - pos < 8) {
      return midi_fail(fault, pos, "the file ends inside the header of chunk %u",
                       static_cast<unsigned>(tracks.size()) + 1);
    }
    std::uint32_t length = be32(bytes + pos + 4);
    bool is_track = std::equal(bytes + pos, bytes + pos + 4, "MTrk");
    if (length > end - pos - 8) {
      // A truncated download must not pass as a shorter song.
      return midi_fail(fault, pos,
                       is_track ? "track %u runs past the end of the file"
                                : "a chunk after track %u runs past the end of the file",
                       static_cast<unsigned>(tracks.size()) + (is_track ? 1 : 0));
    }
    if (is_track) {
      tracks.push_back({pos + 8, pos + 8 + length, 0, 0, 0, 0, false, 0, 0});
    }
    pos += 8 + std::size_t{length};
  }
  info->tracks_found = static_cast<unsigned>(tracks.size());
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    if (!read_track(tracks[i], static_cast<unsigned>(i) + 1, info, fault)) {
      return false;
    }
  }
  sequential = info->format == 2;
  cursors.assign(tracks.size(), cursor{});
  if (!sequential) {
    std::stable_sort(changes.begin(), changes.end(),
                     [](const tempo_change &a, const tempo_change &b) { return a.tick < b.tick; });
    build_segments(changes.data(), changes.data() + changes.size(), 0);
    for (const track &t : tracks) {
      if (!in_time(t, fault)) {
        return false;
      }
    }
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      start_track(i);
    }
    return true;
  }
  // Format 2: each track is a sequence of its own, with its own tempo map,
  // and starts where the one before ended.
  std::uint64_t at = 0;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    tracks[i].start_at = at;
    build_track_segments(i, at);
    if (!in_time(tracks[i], fault)) {
      return false;
    }
    at = exact_at(tracks[i].end_tick);
  }
  current = 0;
  if (!tracks.empty()) {
    build_track_segments(0, 0);
    start_track(0);
  }
  return true;
}

bool midi_next(midi_note *note) {
  if (!has_front) {
    while (heap.empty()) {
      if (!sequential || current + 1 >= tracks.size()) {
        return false;
      }
      ++current;
      build_track_segments(current, tracks[current].start_at);
      start_track(current);
    }
    front = heap.top();
    heap.pop();
    has_front = true;
  }
  std::size_t i = front.second;
  *note = cursors[i].pending;
  std::uint64_t at = 0;
  if (!next_note(i, &at)) {
    has_front = false;
    return true;
  }
  // Ties go to the lower track, as the pair compares.
  front = {at, i};
  if (!heap.empty() && heap.top() < front) {
    heap.push(front);
    front = heap.top();
    heap.pop();
  }
  return true;
}
