// The MIDI reader. A first pass reads every track, checks every byte and
// gathers the tempo changes; a second hands out the notes, merging the
// tracks with a cursor each, by exact time (midi_time.h).
#include "midi_reader.h"

#include "midi_time.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <queue>
#include <utility>
#include <vector>

static constexpr std::uint64_t max_ms = 0xFFFFFFFF;
static constexpr std::uint32_t default_tempo = 500000;

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

struct cursor {
  std::size_t p, end;
  std::uint8_t running;
  std::uint64_t tick;
  std::size_t seg;
  midi_note pending;
};

enum class kind { note, channel, sysex, meta, tempo, end_of_track, filler };

struct event {
  kind k;
  dropped_kind what;
  std::uint8_t status, data1, data2;
  std::uint32_t tempo;
  std::uint64_t tick;
  std::size_t offset;
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

static std::uint32_t be32(std::size_t p) {
  return static_cast<std::uint32_t>(bytes[p]) << 24 |
         static_cast<std::uint32_t>(bytes[p + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[p + 2]) << 8 | bytes[p + 3];
}

static unsigned be16(std::size_t p) {
  return static_cast<unsigned>(bytes[p]) << 8 | bytes[p + 1];
}

static bool fail(midi_fault *f, std::size_t offset, const char *format, unsigned value = 0) {
  if (f != nullptr) {
    std::snprintf(f->reason, sizeof f->reason, format, value);
    f->offset = offset;
    f->too_late = false;
  }
  return false;
}

// The one failure a track's bytes can give at any point: they end before
// the event does.
static bool cut_short(midi_fault *f, std::size_t offset, unsigned track_no) {
  return fail(f, offset, "track %u ends inside an event", track_no);
}

// A variable-length number of at most four bytes.
static bool read_number(cursor &c, std::uint32_t *value, midi_fault *f, unsigned track_no) {
  std::size_t start = c.p;
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (c.p >= c.end) {
      return cut_short(f, c.p, track_no);
    }
    std::uint8_t b = bytes[c.p++];
    v = v << 7 | (b & 0x7Fu);
    if ((b & 0x80) == 0) {
      *value = v;
      return true;
    }
  }
  return fail(f, start, "a variable-length number longer than 4 bytes");
}

// Skips length bytes of a meta or sysex event.
static bool skip_data(cursor &c, midi_fault *f, unsigned track_no, std::uint32_t *length) {
  if (!read_number(c, length, f, track_no)) {
    return false;
  }
  if (*length > c.end - c.p) {
    return cut_short(f, c.end, track_no);
  }
  c.p += *length;
  return true;
}

static bool read_event(cursor &c, event &e, midi_fault *f, unsigned track_no) {
  std::uint32_t delta = 0, length = 0;
  if (!read_number(c, &delta, f, track_no)) {
    return false;
  }
  c.tick += delta;
  e.tick = c.tick;
  if (c.p >= c.end) {
    return cut_short(f, c.p, track_no);
  }
  e.offset = c.p;
  std::uint8_t b = bytes[c.p];
  if (b == 0xFF) {
    if (++c.p >= c.end) {
      return cut_short(f, c.p, track_no);
    }
    std::uint8_t type = bytes[c.p++];
    if (!skip_data(c, f, track_no, &length)) {
      return false;
    }
    std::size_t data = c.p - length;
    e.k = type == 0x2F                  ? kind::end_of_track
          : type == 0x51                ? kind::tempo
          : type == 0x01 && length == 0 ? kind::filler
                                        : kind::meta;
    // A Set Tempo uses its first three bytes; one with fewer means nothing.
    if (e.k == kind::tempo) {
      e.k = length >= 3 ? kind::tempo : kind::filler;
      e.tempo = length >= 3 ? static_cast<std::uint32_t>(bytes[data]) << 16 |
                                  static_cast<std::uint32_t>(bytes[data + 1]) << 8 | bytes[data + 2]
                            : 0;
    }
    return true;
  }
  if (b == 0xF0 || b == 0xF7) {
    ++c.p;
    e.k = kind::sysex;
    return skip_data(c, f, track_no, &length);
  }
  if (b > 0xF0) {
    return fail(f, c.p, "status byte 0x%02X inside a track", b);
  }
  // Running status is set by channel status bytes alone, and carries on
  // over meta and sysex events, as real files rely on.
  if ((b & 0x80) != 0) {
    c.running = b;
    ++c.p;
  } else if (c.running == 0) {
    return fail(f, c.p, "a data byte with no running status");
  }
  e.status = c.running;
  unsigned high = c.running & 0xF0u;
  int n = high == 0xC0 || high == 0xD0 ? 1 : 2;
  std::uint8_t data[2] = {0, 0};
  for (int i = 0; i < n; ++i) {
    if (c.p >= c.end) {
      return cut_short(f, c.p, track_no);
    }
    if ((bytes[c.p] & 0x80) != 0) {
      return fail(f, c.p, "status byte 0x%02X inside a channel message", bytes[c.p]);
    }
    data[i] = bytes[c.p++];
  }
  e.data1 = data[0];
  e.data2 = data[1];
  e.k = high <= 0x90 ? kind::note : kind::channel;
  e.what = high == 0xB0   ? dropped_kind::controller
           : high == 0xC0 ? dropped_kind::program
           : high == 0xE0 ? dropped_kind::pitch_bend
                          : dropped_kind::aftertouch;
  return true;
}

// Refuses the file when the last note of a track, and so every note after
// it, would be later than QEV can write.
static bool in_time(const track &t, midi_fault *f) {
  if (!t.has_note || to_ms(exact_at(t.last_note_tick)) <= max_ms) {
    return true;
  }
  fail(f, t.last_note_offset, "a note later than 4294967295 ms");
  if (f != nullptr) {
    f->too_late = true;
  }
  return false;
}

static bool read_header(std::size_t size, std::size_t *pos, std::size_t *end, midi_file_info *info,
                        midi_fault *f) {
  std::size_t base = 0;
  *end = size;
  // A RIFF RMID file wraps the Standard MIDI File in its "data" chunk.
  if (size >= 12 && std::equal(bytes, bytes + 4, "RIFF") &&
      std::equal(bytes + 8, bytes + 12, "RMID")) {
    std::size_t p = 12;
    for (;;) {
      // A chunk's pad byte may stand past the end of a cut-off file.
      if (p > size || size - p < 8) {
        return fail(f, std::min(p, size), "no data chunk in the RIFF RMID file");
      }
      std::uint32_t len = static_cast<std::uint32_t>(bytes[p + 4]) |
                          static_cast<std::uint32_t>(bytes[p + 5]) << 8 |
                          static_cast<std::uint32_t>(bytes[p + 6]) << 16 |
                          static_cast<std::uint32_t>(bytes[p + 7]) << 24;
      if (std::equal(bytes + p, bytes + p + 4, "data")) {
        base = p + 8;
        *end = p + 8 + std::min<std::size_t>(len, size - p - 8);
        break;
      }
      if (len > size - p - 8) {
        return fail(f, p, "no data chunk in the RIFF RMID file");
      }
      p += 8 + len + (len & 1);
    }
  }
  if (*end - base < 8 || !std::equal(bytes + base, bytes + base + 4, "MThd")) {
    return fail(f, base, "no MThd at the start");
  }
  std::uint32_t length = be32(base + 4);
  if (length < 6) {
    return fail(f, base + 4, "a header chunk of %u bytes, fewer than 6", length);
  }
  if (length > *end - base - 8) {
    return fail(f, *end, "the file ends inside the header chunk");
  }
  info->format = be16(base + 8);
  info->tracks_announced = be16(base + 10);
  unsigned division = be16(base + 12);
  if (info->format > 2) {
    return fail(f, base + 8, "format %u is not 0, 1 or 2", info->format);
  }
  info->smpte = (division & 0x8000) != 0;
  if (!info->smpte) {
    if (division == 0) {
      return fail(f, base + 12, "a division of 0 ticks per quarter note");
    }
    info->ticks_per_quarter = division;
    set_timing(default_tempo, 1000ull * division);
  } else {
    unsigned fps = 256 - (division >> 8);
    info->frames_per_second = fps;
    info->ticks_per_frame = division & 0xFF;
    if (fps != 24 && fps != 25 && fps != 29 && fps != 30) {
      return fail(f, base + 12, "SMPTE rate -%u is not -24, -25, -29 or -30", fps);
    }
    if (info->ticks_per_frame == 0) {
      return fail(f, base + 13, "an SMPTE division of 0 ticks per frame");
    }
    // Set Tempo means nothing here: ticks are a fixed length of time.
    set_timing(fps == 29 ? 1001 : 1000,
               std::uint64_t{fps == 29 ? 30u : fps} * info->ticks_per_frame);
  }
  *pos = base + 8 + length;
  return true;
}

// Reads one track through, counting and checking its events.
static bool read_track(track &t, unsigned number, midi_file_info *info, midi_fault *f) {
  cursor c{t.start, t.end, 0, 0, 0, {}};
  t.first_change = changes.size();
  event e{};
  while (c.p < c.end) {
    if (!read_event(c, e, f, number)) {
      return false;
    }
    if (e.k == kind::end_of_track) {
      t.end = c.p;
      break;
    }
    if (e.k == kind::note) {
      ++info->notes;
      t.has_note = true;
      t.last_note_tick = e.tick;
      t.last_note_offset = e.offset;
    } else if (e.k == kind::tempo && !info->smpte) {
      changes.push_back({e.tick, e.tempo});
    } else if (e.k != kind::filler && e.k != kind::tempo) {
      ++info->dropped[static_cast<std::size_t>(e.k == kind::sysex  ? dropped_kind::sysex
                                               : e.k == kind::meta ? dropped_kind::meta
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
  event e{};
  while (c.p < c.end && read_event(c, e, nullptr, 0)) {
    if (e.k == kind::note) {
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
  cursors[i] = cursor{tracks[i].start, tracks[i].end, 0, 0, 0, {}};
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
  set_timing(default_tempo, 1);
  std::size_t pos = 0, end = 0;
  if (!read_header(size, &pos, &end, info, fault)) {
    return false;
  }
  // Chunks other than MTrk are skipped; reading stops after the number of
  // tracks announced, and fewer whole chunks than that is no error.
  while (tracks.size() < info->tracks_announced && pos < end) {
    if (end - pos < 8) {
      return fail(fault, pos, "the file ends inside the header of chunk %u",
                  static_cast<unsigned>(tracks.size()) + 1);
    }
    std::uint32_t length = be32(pos + 4);
    bool is_track = std::equal(bytes + pos, bytes + pos + 4, "MTrk");
    if (length > end - pos - 8) {
      // A truncated download must not pass as a shorter song.
      return fail(fault, pos,
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
