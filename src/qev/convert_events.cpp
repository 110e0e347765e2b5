// The run loop between the reader and the writer. Events are put into the
// track's bytes here, many in a row, with the loop's state in registers.
// Most follow the one before within 127 ms (chords, dense parts, several
// channels at once), so their delta takes one byte; music with rests has
// many of two. Only a gap too long for one delta takes write_cmd, which
// bridges it.
#include "convert_events.h"

#include "event_reader.h"
#include "midi/midi_writer.h"

#include <cstdint>
#include <cstring>

// Puts the events from *e up to end; returns false on a failed write.
static bool put_events(std::FILE *out, const timed_event **e, const timed_event *end,
                       std::uint32_t *last) {
  const timed_event *at = *e;
  std::uint32_t time = *last;
  while (at != end) {
    // A delta of up to four bytes and the event's three.
    std::uint8_t *room = track_room(out, 7 * static_cast<std::size_t>(end - at)), *q = room;
    if (room != nullptr) {
      for (; at != end; ++at) {
        std::uint32_t delta = at->time - time;
        if (delta < 0x80) {
          *q++ = static_cast<std::uint8_t>(delta);
        } else if (delta <= max_delta) {
          q = put_var_len(q, delta);
        } else {
          break;
        }
        std::memcpy(q, event_bytes(at), 3);
        q += 3;
        time = at->time;
      }
      track_filled(static_cast<std::size_t>(q - room));
    }
    if (at != end) {
      if (write_cmd(out, at->time - time, at->status, at->note, at->velocity) != 0) {
        return false;
      }
      time = at->time;
      ++at;
    }
  }
  *e = at;
  *last = time;
  return true;
}

convert_result convert_events(std::FILE *in, std::FILE *out) {
  if (write_header(out) != 0) {
    return convert_result::write_failed;
  }
  std::uint32_t last = 0;
  const timed_event *events = nullptr;
  std::size_t count = 0;
  int rc = 0;
  while ((rc = next_events(in, &events, &count)) == 0) {
    // Lines that are not plain come one event at a time, for which asking
    // for room costs more than it saves.
    if (count == 1) {
      const timed_event &e = events[0];
      if (write_cmd(out, e.time - last, e.status, e.note, e.velocity) != 0) {
        return convert_result::write_failed;
      }
      last = e.time;
    } else if (!put_events(out, &events, events + count, &last)) {
      return convert_result::write_failed;
    }
  }
  if (rc != -1) {
    return convert_result::read_failed;
  }
  if (write_eot(out) != 0 || fix_header(out) != 0) {
    return convert_result::write_failed;
  }
  return convert_result::ok;
}
