// A track's events, one at a time: variable-length numbers, running
// status, and the lengths of meta and sysex events, each checked against the
// track's end.
#include "midi_parse.h"

#include <array>
#include <cstdarg>
#include <cstdio>

bool midi_fail(midi_fault *f, std::size_t offset, const char *format, unsigned value) {
  if (f != nullptr) {
    std::snprintf(f->reason, sizeof f->reason, format, value);
    f->offset = offset;
    f->too_late = false;
  }
  return false;
}

bool midi_failf(midi_fault *f, std::size_t offset, const char *format, ...) {
  if (f != nullptr) {
    std::va_list values;
    va_start(values, format);
    std::vsnprintf(f->reason, sizeof f->reason, format, values);
    va_end(values);
    f->offset = offset;
    f->too_late = false;
  }
  return false;
}

// The one failure a track's bytes can give at any point: they end before
// the event does.
static bool cut_short(midi_fault *f, std::size_t offset, unsigned track_no) {
  return midi_fail(f, offset, "track %u ends inside an event", track_no);
}

// A variable-length number of at most four bytes.
static bool read_number(track_cursor &c, std::uint32_t *value, midi_fault *f, unsigned track_no) {
  std::size_t start = c.p;
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    if (c.p >= c.end) {
      return cut_short(f, c.p, track_no);
    }
    std::uint8_t b = c.bytes[c.p++];
    v = v << 7 | (b & 0x7Fu);
    if ((b & 0x80) == 0) {
      *value = v;
      return true;
    }
  }
  return midi_fail(f, start, "a variable-length number longer than 4 bytes");
}

// Skips length bytes of a meta or sysex event.
static bool skip_data(track_cursor &c, midi_fault *f, unsigned track_no, std::uint32_t *length) {
  if (!read_number(c, length, f, track_no)) {
    return false;
  }
  if (*length > c.end - c.p) {
    return cut_short(f, c.end, track_no);
  }
  c.p += *length;
  return true;
}

// What is not a note of a channel message's kind (its status's high half).
static dropped_kind channel_kind(unsigned high) {
  return high == 0xB0   ? dropped_kind::controller
         : high == 0xC0 ? dropped_kind::program
         : high == 0xE0 ? dropped_kind::pitch_bend
                        : dropped_kind::aftertouch;
}

// By a status byte's high half: the channel messages of two data bytes.
// Bytes below 0x80 are data, and 0xF0 to 0xFF are not channel messages.
static constexpr std::array<bool, 16> two_data_bytes = {
    false, false, false, false, false, false, false, false, // data bytes
    true,  true,  true,  true,  false, false, true,  false, // 0xC0 and 0xD0 carry one
};

bool read_event(track_cursor &c, track_event &e, midi_fault *f, unsigned track_no) {
  // Most events are notes and controllers a few ticks apart: a delta of one
  // byte, then a channel message of two data bytes, under running status or
  // not. With four bytes left, such an event is taken in one test of its
  // bytes, none of them past the track's end; anything else, and anything
  // wrong, goes the long way below, which says what is wrong.
  if (c.end - c.p >= 4) {
    const std::uint8_t *q = c.bytes + c.p;
    bool own = q[1] >= 0x80;
    std::uint8_t status = own ? q[1] : c.running;
    const std::uint8_t *data = q + 1 + own;
    unsigned high = status & 0xF0u;
    if (two_data_bytes[status >> 4] & ((q[0] | data[0] | data[1]) < 0x80)) {
      c.tick += q[0];
      e.tick = c.tick;
      e.offset = c.p + 1;
      c.running = status;
      c.p += 3 + static_cast<std::size_t>(own);
      e.status = status;
      e.data1 = data[0];
      e.data2 = data[1];
      e.k = high <= 0x90 ? event_kind::note : event_kind::channel;
      e.what = channel_kind(high);
      return true;
    }
  }
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
  std::uint8_t b = c.bytes[c.p];
  if (b == 0xFF) {
    if (++c.p >= c.end) {
      return cut_short(f, c.p, track_no);
    }
    std::uint8_t type = c.bytes[c.p++];
    if (!skip_data(c, f, track_no, &length)) {
      return false;
    }
    std::size_t data = c.p - length;
    e.k = type == 0x2F                  ? event_kind::end_of_track
          : type == 0x51                ? event_kind::tempo
          : type == 0x01 && length == 0 ? event_kind::filler
                                        : event_kind::meta;
    // A Set Tempo uses its first three bytes; one with fewer means nothing.
    if (e.k == event_kind::tempo) {
      e.k = length >= 3 ? event_kind::tempo : event_kind::filler;
      e.tempo = length >= 3
                    ? static_cast<std::uint32_t>(c.bytes[data]) << 16 |
                          static_cast<std::uint32_t>(c.bytes[data + 1]) << 8 | c.bytes[data + 2]
                    : 0;
    }
    return true;
  }
  if (b == 0xF0 || b == 0xF7) {
    ++c.p;
    e.k = event_kind::sysex;
    return skip_data(c, f, track_no, &length);
  }
  if (b > 0xF0) {
    return midi_fail(f, c.p, "status byte 0x%02X inside a track", b);
  }
  // Running status is set by channel status bytes alone, and carries on
  // over meta and sysex events, as real files rely on.
  if ((b & 0x80) != 0) {
    c.running = b;
    ++c.p;
  } else if (c.running == 0) {
    return midi_fail(f, c.p, "a data byte with no running status");
  }
  e.status = c.running;
  unsigned high = c.running & 0xF0u;
  int n = high == 0xC0 || high == 0xD0 ? 1 : 2;
  std::uint8_t data[2] = {0, 0};
  for (int i = 0; i < n; ++i) {
    if (c.p >= c.end) {
      return cut_short(f, c.p, track_no);
    }
    if ((c.bytes[c.p] & 0x80) != 0) {
      return midi_fail(f, c.p, "status byte 0x%02X inside a channel message", c.bytes[c.p]);
    }
    data[i] = c.bytes[c.p++];
  }
  e.data1 = data[0];
  e.data2 = data[1];
  e.k = high <= 0x90 ? event_kind::note : event_kind::channel;
  e.what = channel_kind(high);
  return true;
}
