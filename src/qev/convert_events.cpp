// The run loop between the reader and the writer. Most events follow the
// one before within 127 ms (chords, dense parts, several channels at once),
// so their delta fits one byte: such events are put into the track's bytes
// here, many in a row, with the loop's state in registers. Any other takes
// write_cmd.
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
    std::uint8_t *room = track_room(out, 4 * static_cast<std::size_t>(end - at)), *q = room;
    if (room != nullptr) {
      for (; at != end; ++at, q += 4) {
        std::uint32_t delta = at->time - time;
        if (delta >= 0x80) {
          break;
        }
        q[0] = static_cast<std::uint8_t>(delta);
        std::memcpy(q + 1, event_bytes(at), 3);
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
