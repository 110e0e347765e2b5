// The event reader: parse_cmd and next_events, the time of the last accepted
// event and the rule that drops earlier ones, and the queue through which
// plain lines, scanned many at a time, reach them. Any other line is read by
// the text input and the field rules, one at a time.
#include "event_reader.h"

#include "midi/midi_writer.h"
#include "plain_scan.h"

#include <array>

std::uint32_t curtime = 0;

// Events that passed the skip rules, with their absolute times, waiting for
// parse_cmd to hand them out.
static std::array<timed_event, 256> queue;
static std::size_t queue_head = 0;
static std::size_t queue_tail = 0;

static plain_pace pace;

// The converter's own input: parse_cmd takes only the stream.
static text_input input;

void convert_restart() {
  curtime = 0;
  queue_head = queue_tail = 0;
  pace = plain_pace{};
  input = text_input{};
  nbytes = 0;
  hdr = hdr_template;
}

// Refills the queue from plain lines, or with the next accepted line of
// another form; returns 0, or -1 or -2 when no event is left. It writes
// nothing of the caller's, so that the caller's values can stay in
// registers.
[[gnu::noinline]] static int refill_queue(std::FILE *in) {
  for (;;) {
    if (plain_due(pace)) {
      const char *data = input_data(input), *from = data + input.pos, *p = from;
      queue_head = 0;
      queue_tail = scan_plain(&p, data + input.len, curtime, queue.data(), queue.size());
      input.pos = static_cast<std::size_t>(p - data);
      // Lines passed over as earlier count as taken: the scan may go on.
      plain_tried(pace, p != from);
      if (queue_tail > 0) {
        return 0;
      }
      if (p != from) {
        continue;
      }
    }
    const char *line = nullptr;
    if (int rc = next_line(input, in, &line); rc != 0) {
      return rc;
    }
    // Invalid lines are comments, and earlier events are dropped, silently.
    if (timed_event e; scan_line(line, &e) && in_order(e.time, curtime)) {
      queue[0] = e;
      queue_head = 0;
      queue_tail = 1;
      return 0;
    }
  }
}

int parse_cmd(std::FILE *in, std::uint32_t *delta, std::uint8_t *status, std::uint8_t *note,
              std::uint8_t *velocity) {
  if (queue_head == queue_tail) {
    if (int rc = refill_queue(in); rc != 0) {
      return rc;
    }
  }
  // Queued events passed the skip rules in order: each is due as it stands.
  const timed_event &q = queue[queue_head++];
  *delta = q.time - curtime;
  *status = q.status;
  *note = q.note;
  *velocity = q.velocity;
  curtime = q.time;
  return 0;
}

int next_events(std::FILE *in, const timed_event **events, std::size_t *count) {
  if (queue_head == queue_tail) {
    if (int rc = refill_queue(in); rc != 0) {
      return rc;
    }
  }
  *events = queue.data() + queue_head;
  *count = queue_tail - queue_head;
  curtime = queue[queue_tail - 1].time;
  queue_head = queue_tail;
  return 0;
}
