// The start of a MIDI file: the RIFF RMID wrapper, when there is one, and
// the header chunk with the format, the number of tracks and the timing.
#include "midi_parse.h"

#include <algorithm>
#include <cstring>

void note_damage(midi_file_info *info, const midi_fault &f, unsigned track) {
  midi_damage d{};
  std::memcpy(d.reason, f.reason, sizeof d.reason);
  d.offset = f.offset;
  d.track = track;
  info->damage.push_back(d);
}

bool chunk_type_at(const std::uint8_t *p) {
  return std::all_of(p, p + 4, [](std::uint8_t b) { return b >= 0x20 && b <= 0x7E; });
}

bool zeros_to_end(const std::uint8_t *bytes, std::size_t pos, std::size_t end) {
  return std::all_of(bytes + pos, bytes + end, [](std::uint8_t b) { return b == 0; });
}

// A fault that a salvage reads past is noted as damage. Returns whether to
// read on; else the fault stands.
static bool passed(midi_file_info *info, midi_fault *f, bool salvage) {
  if (salvage && f != nullptr) {
    note_damage(info, *f, 0);
  }
  return salvage && f != nullptr;
}

// The "data" chunk of a RIFF RMID file, which wraps the Standard MIDI File:
// where it starts, and where it ends. False where there is none.
static bool riff_data(const std::uint8_t *bytes, std::size_t size, std::size_t *base,
                      std::size_t *end, midi_fault *f) {
  std::size_t p = 12;
  for (;;) {
    // A chunk's pad byte may stand past the end of a cut-off file.
    if (p > size || size - p < 8) {
      return midi_failf(f, std::min(p, size), "no data chunk in the RIFF RMID file");
    }
    std::uint32_t len = static_cast<std::uint32_t>(bytes[p + 4]) |
                        static_cast<std::uint32_t>(bytes[p + 5]) << 8 |
                        static_cast<std::uint32_t>(bytes[p + 6]) << 16 |
                        static_cast<std::uint32_t>(bytes[p + 7]) << 24;
    if (std::equal(bytes + p, bytes + p + 4, "data")) {
      *base = p + 8;
      *end = p + 8 + std::min<std::size_t>(len, size - p - 8);
      return true;
    }
    if (len > size - p - 8) {
      return midi_failf(f, p, "no data chunk in the RIFF RMID file");
    }
    p += 8 + len + (len & 1);
  }
}

bool read_header(const std::uint8_t *bytes, std::size_t size, std::size_t *pos, std::size_t *end,
                 midi_file_info *info, tempo_map &map, midi_fault *f, bool salvage) {
  std::size_t base = 0;
  *end = size;
  bool riff = size >= 12 && std::equal(bytes, bytes + 4, "RIFF") &&
              std::equal(bytes + 8, bytes + 12, "RMID");
  // A salvage looks for the MThd past a RIFF whose sizes lie, and says so there.
  if (riff && !riff_data(bytes, size, &base, end, f) && !salvage) {
    return false;
  }
  if (*end - base < 8 || !std::equal(bytes + base, bytes + base + 4, "MThd")) {
    // A wrapper, such as MacBinary's 128 bytes, or a RIFF whose sizes lie,
    // may hide one further on.
    const char *id = "MThd";
    const std::uint8_t *found = std::search(bytes, bytes + size, id, id + 4);
    if (found == bytes + size) {
      return midi_failf(f, base, "no MThd at the start");
    }
    auto at = static_cast<std::size_t>(found - bytes);
    midi_failf(f, at,
               at == 128 ? "an MThd after %zu bytes of something else, such as a MacBinary header"
                         : "an MThd after %zu bytes of something else",
               at);
    if (!passed(info, f, salvage)) {
      return false;
    }
    base = static_cast<std::size_t>(found - bytes);
    *end = size;
  }
  // An MThd found further on may stand at the very end.
  if (*end - base < 8) {
    return midi_failf(f, *end, "the file ends inside the header chunk, %zu bytes short",
                      base + 14 - *end);
  }
  std::uint32_t length = be32(bytes + base + 4);
  if (length < 6) {
    return midi_failf(f, base + 4, "a header chunk of %u bytes, fewer than 6", length);
  }
  // A length that is not 6 with a track right after 6 bytes is a length
  // that lies, as a flipped byte leaves it, rather than a longer header.
  bool track_after_six =
      *end - base >= 18 && std::equal(bytes + base + 14, bytes + base + 18, "MTrk");
  if (*end - base < 14) {
    return midi_failf(f, *end, "the file ends inside the header chunk, %zu bytes short",
                      base + 14 - *end);
  }
  if ((length != 6 && track_after_six) || length > *end - base - 8) {
    midi_failf(f, base + 4,
               track_after_six
                   ? "the header chunk's length says %u bytes, but a track starts after 6"
                   : "the header chunk's length says %u bytes, more than the file holds",
               length);
    if (!passed(info, f, salvage)) {
      return false;
    }
    length = 6;
  }
  info->header_at = base;
  info->format = be16(bytes + base + 8);
  info->tracks_announced = be16(bytes + base + 10);
  unsigned division = be16(bytes + base + 12);
  if (info->format > 2) {
    return midi_failf(f, base + 8, "format %u is not 0, 1 or 2", info->format);
  }
  info->smpte = (division & 0x8000) != 0;
  if (!info->smpte) {
    if (division == 0) {
      return midi_failf(f, base + 12, "a division of 0 ticks per quarter note");
    }
    info->ticks_per_quarter = division;
    set_timing(map, midi_default_tempo, 1000ull * division);
  } else {
    unsigned fps = 256 - (division >> 8);
    info->frames_per_second = fps;
    info->ticks_per_frame = division & 0xFF;
    if (fps != 24 && fps != 25 && fps != 29 && fps != 30) {
      return midi_failf(f, base + 12, "SMPTE rate -%u is not -24, -25, -29 or -30", fps);
    }
    if (info->ticks_per_frame == 0) {
      return midi_failf(f, base + 13, "an SMPTE division of 0 ticks per frame");
    }
    // Set Tempo means nothing here: ticks are a fixed length of time.
    set_timing(map, fps == 29 ? 1001 : 1000,
               std::uint64_t{fps == 29 ? 30u : fps} * info->ticks_per_frame);
  }
  *pos = base + 8 + length;
  return true;
}
