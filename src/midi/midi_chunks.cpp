// The chunks after the header: where each track stands, found by the
// chunks' lengths. A fault names the length that lies, or how many bytes
// are missing. A salvage notes each fault as damage and reads on: past a
// length that lies, a track runs to the next MTrk, and the tracks beyond
// those the header announces are read too.
#include "midi_salvage.h"

#include <algorithm>

// The next MTrk at or after pos, or end.
static std::size_t next_track(const std::uint8_t *bytes, std::size_t pos, std::size_t end) {
  const char *id = "MTrk";
  return static_cast<std::size_t>(std::search(bytes + pos, bytes + end, id, id + 4) - bytes);
}

// A fault the walk meets: false where it stands, true where a salvage
// noted it and reads on.
static bool read_past(midi_file_info *info, midi_fault *f, bool salvage, unsigned track) {
  if (salvage) {
    note_damage(info, *f, track);
  }
  return salvage;
}

// Whether the last track ran on past its length: it does not end in an End
// of Track, and what follows is neither a chunk, nor padding, nor too short
// to hold an event.
static bool runs_on(const std::uint8_t *bytes, const midi_track &t, std::size_t pos,
                    std::size_t end) {
  static constexpr std::uint8_t end_of_track[] = {0xFF, 0x2F, 0x00};
  if ((t.end - t.start >= 3 && std::equal(bytes + t.end - 3, bytes + t.end, end_of_track)) ||
      end - pos < 8 || zeros_to_end(bytes, pos, end)) {
    return false;
  }
  return !chunk_type_at(bytes + pos) || be32(bytes + pos + 4) > end - pos - 8;
}

// The whole chunks after pos, while each length leads to another chunk:
// the tracks a header that announces too few leaves out. A salvage reads
// them.
static void find_beyond(const std::uint8_t *bytes, std::size_t pos, std::size_t end,
                        midi_file_info *info, std::vector<midi_track> &tracks, bool salvage) {
  while (end - pos >= 8 && chunk_type_at(bytes + pos) && be32(bytes + pos + 4) <= end - pos - 8) {
    std::size_t length = be32(bytes + pos + 4);
    if (std::equal(bytes + pos, bytes + pos + 4, "MTrk")) {
      ++info->tracks_beyond;
      if (salvage) {
        tracks.push_back({pos + 8, pos + 8 + length, 0, 0, 0, 0, false, 0, 0});
      }
    }
    pos += 8 + length;
  }
}

bool find_tracks(const std::uint8_t *bytes, std::size_t pos, std::size_t end, midi_file_info *info,
                 std::vector<midi_track> &tracks, midi_fault *f, bool salvage) {
  midi_fault local{};
  f = f != nullptr ? f : &local;
  std::size_t length_at = info->header_at + 4;
  std::uint32_t length = be32(bytes + length_at);
  bool after_track = false;
  std::size_t damage_before = info->damage.size();
  while (tracks.size() < info->tracks_announced && pos < end && !zeros_to_end(bytes, pos, end)) {
    auto n = static_cast<unsigned>(tracks.size());
    if (end - pos < 8) {
      midi_failf(f, pos, "the file ends inside the header of chunk %u", n + 1);
      if (!read_past(info, f, salvage, 0)) {
        return false;
      }
      break;
    }
    if (!chunk_type_at(bytes + pos)) {
      if (!after_track) {
        midi_failf(f, length_at, "the header chunk's length says %u bytes, but no chunk follows it",
                   length);
      } else {
        midi_failf(f, length_at, "track %u's length says %u bytes, but no chunk follows it", n,
                   length);
      }
      if (!read_past(info, f, salvage, after_track ? n : 0)) {
        return false;
      }
      // What follows is more of the track before, up to the next one; a
      // length too long may have passed that one's header.
      pos = next_track(bytes, after_track ? tracks.back().start : pos, end);
      if (after_track) {
        tracks.back().end = pos;
      }
      after_track = false;
      continue;
    }
    length_at = pos + 4;
    length = be32(bytes + length_at);
    after_track = std::equal(bytes + pos, bytes + pos + 4, "MTrk");
    std::size_t next = pos + 8 + std::size_t{length};
    if (length > end - pos - 8) {
      // A truncated download must not pass as a shorter song.
      std::size_t missing = length - (end - pos - 8);
      if (after_track) {
        midi_failf(f, length_at, "track %u's length says %u bytes, %zu more than the file holds",
                   n + 1, length, missing);
      } else {
        midi_failf(f, length_at, "chunk %.4s's length says %u bytes, %zu more than the file holds",
                   reinterpret_cast<const char *>(bytes + pos), length, missing);
      }
      if (!read_past(info, f, salvage, after_track ? n + 1 : 0)) {
        return false;
      }
      next = next_track(bytes, pos + 8, end);
    }
    if (after_track) {
      tracks.push_back({pos + 8, next, 0, 0, 0, 0, false, 0, 0});
    }
    pos = next;
  }
  // A salvage says it once where a track was cut short.
  if (tracks.size() < info->tracks_announced && info->damage.size() == damage_before) {
    // Cut at a chunk's end, a download looks just like this.
    midi_failf(f, end, "the file ends after %u of the %u tracks its header announces",
               static_cast<unsigned>(tracks.size()), info->tracks_announced);
    return read_past(info, f, salvage, 0);
  }
  if (info->damage.size() != damage_before) {
    return true;
  }
  if (!tracks.empty() && runs_on(bytes, tracks.back(), pos, end)) {
    midi_track &t = tracks.back();
    midi_failf(f, t.start - 4, "track %u's length says %zu bytes, but its events go on after it",
               static_cast<unsigned>(tracks.size()), t.end - t.start);
    if (!read_past(info, f, salvage, static_cast<unsigned>(tracks.size()))) {
      return false;
    }
    t.end = pos = next_track(bytes, pos, end);
  }
  find_beyond(bytes, pos, end, info, tracks, salvage);
  return true;
}
