// The MIDI reader. A first pass reads every track, checks every byte and
// gathers the tempo changes; a second hands out the notes, merging the
// tracks with a cursor each, by exact time (midi_time.h).
#include "midi_reader.h"

#include <algorithm>
#include <cstdio>

static constexpr std::uint64_t max_ms = 0xFFFFFFFF;

// Whether four bytes may be a chunk's type: printable ASCII, as every
// chunk type is.
static bool chunk_type_at(const std::uint8_t *p) {
  return std::all_of(p, p + 4, [](std::uint8_t b) { return b >= 0x20 && b <= 0x7E; });
}

// Zeros to the end pad a file out; they hold no chunk.
static bool zeros_to_end(const std::uint8_t *bytes, std::size_t pos, std::size_t end) {
  return std::all_of(bytes + pos, bytes + end, [](std::uint8_t b) { return b == 0; });
}

// The whole track chunks after pos, each where the length before it leads,
// which a header that announces too few leaves unread.
static unsigned tracks_after(const std::uint8_t *bytes, std::size_t pos, std::size_t end) {
  unsigned count = 0;
  while (end - pos >= 8 && chunk_type_at(bytes + pos) && be32(bytes + pos + 4) <= end - pos - 8) {
    count += std::equal(bytes + pos, bytes + pos + 4, "MTrk") ? 1 : 0;
    pos += 8 + std::size_t{be32(bytes + pos + 4)};
  }
  return count;
}

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
[[gnu::noinline]] static bool read_track(midi_reading &r, midi_track &t, unsigned number,
                                         midi_file_info *info, midi_fault *f) {
  std::vector<tempo_change> &changes = r.changes;
  track_cursor c{r.bytes, t.start, t.end, 0, 0};
  t.first_change = changes.size();
  std::uint64_t notes = 0, last_tick = 0;
  std::size_t last_offset = 0;
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
      ++notes;
      last_tick = e.tick;
      last_offset = e.offset;
    } else if (e.k == event_kind::tempo && !info->smpte) {
      changes.push_back({e.tick, e.tempo});
    } else if (e.k != event_kind::filler && e.k != event_kind::tempo) {
      ++info->dropped[static_cast<std::size_t>(e.k == event_kind::sysex  ? dropped_kind::sysex
                                               : e.k == event_kind::meta ? dropped_kind::meta
                                                                         : e.what)];
    }
  }
  info->notes += notes;
  t.has_note = notes != 0;
  t.last_note_tick = last_tick;
  t.last_note_offset = last_offset;
  t.end_tick = c.tick;
  t.end_change = changes.size();
  return true;
}

// Moves the cursor of track i to its next note, and gives its exact time.
// False when the track has no more notes.
static bool next_note(midi_reading &r, std::size_t i, std::uint64_t *at) {
  track_merge &c = r.merges[i];
  track_event e{};
  while (c.at.p < c.at.end && read_event(c.at, e, nullptr, 0)) {
    if (e.k == event_kind::note) {
      c.seg = segment_from(r.map, c.seg, e.tick);
      const segment &s = r.map.segments[c.seg];
      *at = advance_at(s, e.tick);
      // No note is later than 2^32 ms, as midi_open made sure.
      std::uint64_t ms = s.whole ? s.ms + (e.tick - s.tick) * s.ms_per_tick : to_ms(r.map, *at);
      c.pending = {static_cast<std::uint32_t>(ms), e.status, e.data1, e.data2};
      return true;
    }
  }
  return false;
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
               midi_fault *fault) {
  r = midi_reading{};
  r.bytes = data;
  const std::uint8_t *bytes = data;
  std::vector<midi_track> &tracks = r.tracks;
  *info = midi_file_info{};
  std::size_t pos = 0, end = 0;
  if (!read_header(bytes, size, &pos, &end, info, r.map, fault)) {
    return false;
  }
  // Chunks other than MTrk are skipped. A fault names the length that
  // lies: the header's, or that of the chunk before.
  std::size_t length_at = info->header_at + 4;
  std::uint32_t length = be32(bytes + length_at);
  while (tracks.size() < info->tracks_announced && pos < end && !zeros_to_end(bytes, pos, end)) {
    auto n = static_cast<unsigned>(tracks.size());
    if (end - pos < 8) {
      return midi_fail(fault, pos, "the file ends inside the header of chunk %u", n + 1);
    }
    if (!chunk_type_at(bytes + pos)) {
      return n == 0
                 ? midi_fail(fault, length_at,
                             "the header chunk's length says %u bytes, but no chunk follows it",
                             length)
                 : midi_fail(fault, length_at,
                             "track %u's length says %u bytes, but no chunk follows it", n, length);
    }
    length_at = pos + 4;
    length = be32(bytes + length_at);
    bool is_track = std::equal(bytes + pos, bytes + pos + 4, "MTrk");
    if (length > end - pos - 8) {
      // A truncated download must not pass as a shorter song.
      std::size_t missing = length - (end - pos - 8);
      return is_track ? midi_fail(fault, length_at,
                                  "track %u's length says %u bytes, %zu more than the file holds",
                                  n + 1, length, missing)
                      : midi_fail(fault, length_at,
                                  "chunk %.4s's length says %u bytes, %zu more than the file holds",
                                  reinterpret_cast<const char *>(bytes + pos), length, missing);
    }
    if (is_track) {
      tracks.push_back({pos + 8, pos + 8 + length, 0, 0, 0, 0, false, 0, 0});
    }
    pos += 8 + std::size_t{length};
  }
  if (tracks.size() < info->tracks_announced) {
    // Cut at a chunk's end, a download looks just like this.
    return midi_fail(fault, end, "the file ends after %u of the %u tracks its header announces",
                     static_cast<unsigned>(tracks.size()), info->tracks_announced);
  }
  info->tracks_beyond = tracks_after(bytes, pos, end);
  info->tracks_found = static_cast<unsigned>(tracks.size());
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    if (!read_track(r, tracks[i], static_cast<unsigned>(i) + 1, info, fault)) {
      return false;
    }
  }
  r.sequential = info->format == 2;
  r.merges.assign(tracks.size(), track_merge{});
  if (!r.sequential) {
    std::vector<tempo_change> &changes = r.changes;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const tempo_change &a, const tempo_change &b) { return a.tick < b.tick; });
    build_segments(r.map, changes.data(), changes.data() + changes.size(), 0);
    for (const midi_track &t : tracks) {
      if (!in_time(r, t, fault)) {
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

bool midi_next(midi_reading &r, midi_note *note) {
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
