#include "midi_writer.h"

#include "platform/platform.h"

std::array<std::uint8_t, 41> hdr = hdr_template;

std::uint32_t nbytes = 0;

// An empty text meta event: it carries max_delta of a longer gap, so that no
// event is dropped and every event keeps its exact time.
static constexpr std::array<std::uint8_t, 3> filler = {0xFF, 0x01, 0x00};

static constexpr std::array<std::uint8_t, 4> end_of_track = {0x00, 0xFF, 0x2F, 0x00};

// The longest a filler (delta and meta event) or a channel event can be.
static constexpr std::uint32_t max_event_size = 7;
static_assert(max_event_size == 4 + filler.size());

// Track bytes gathered here reach the stream in large writes rather than a
// byte at a time. After each hand-over, write_failed records the stream's
// error indicator, which is what every later result reports.
static std::array<std::uint8_t, 64 * 1024> pending;
static std::size_t pending_len = 0;
static bool write_failed = false;

// Room for the longest delta with all its fillers and one event.
static constexpr std::size_t max_append = 17 * max_event_size;

int flush_track(std::FILE *out) {
  if (pending_len > 0) {
    std::fwrite(pending.data(), 1, pending_len, out);
    pending_len = 0;
    write_failed = std::ferror(out) != 0;
  }
  return write_failed ? -1 : 0;
}

// Hands the gathered bytes over when fewer than room are left for more.
static inline void make_room(std::FILE *out, std::size_t room) {
  if (pending.size() - pending_len < room) {
    flush_track(out);
  }
}

static inline void put(std::uint8_t byte) {
  pending[pending_len++] = byte;
  ++nbytes;
}

int write_header(std::FILE *out) {
  // Nothing is gathered when the header goes out: as a file starts, and in
  // fix_header after the flush. A file therefore starts with no bytes and
  // no failure left over from one before it, and needs no reset for them.
  pending_len = 0;
  write_failed = false;
  // Straight to the descriptor at its current offset, so that the same call
  // both starts the file and, after a rewind, patches it in place.
  return write_direct(out, hdr.data(), hdr.size()) ? 0 : -1;
}

void write_var_len(std::FILE *out, std::uint32_t value) {
  make_room(out, 4);
  std::uint8_t *q = pending.data() + pending_len;
  track_filled(static_cast<std::size_t>(put_var_len(q, value) - q));
}

// Any event but the usual one: a delta of more than one byte, perhaps with
// fillers, a full buffer, or a track near the end of its length field.
[[gnu::noinline]] static int write_cmd_long(std::FILE *out, std::uint32_t delta,
                                            std::uint8_t status, std::uint8_t note,
                                            std::uint8_t velocity) {
  make_room(out, max_append);
  // The track's length field is 32 bits wide; a track that outgrows it would
  // be a corrupt file, so refuse it as a failed write.
  std::uint32_t fillers = delta > max_delta ? (delta - 1) / max_delta : 0;
  std::uint32_t rest = delta - fillers * max_delta;
  std::uint32_t needed =
      fillers * max_event_size + 4 + (rest >= 1u << 7) + (rest >= 1u << 14) + (rest >= 1u << 21);
  if (needed > UINT32_MAX - nbytes) {
    return -1;
  }
  while (delta > max_delta) {
    write_var_len(out, max_delta);
    for (std::uint8_t b : filler) {
      put(b);
    }
    delta -= max_delta;
  }
  write_var_len(out, delta);
  put(status);
  put(note);
  put(velocity);
  return write_failed ? -1 : 0;
}

int write_cmd(std::FILE *out, std::uint32_t delta, std::uint8_t status, std::uint8_t note,
              std::uint8_t velocity) {
  // The usual event: a one-byte delta, with room to spare.
  if (delta < 0x80 && pending_len < pending.size() - max_append && nbytes < UINT32_MAX - 4) {
    std::uint8_t *p = pending.data() + pending_len;
    p[0] = static_cast<std::uint8_t>(delta);
    p[1] = status;
    p[2] = note;
    p[3] = velocity;
    pending_len += 4;
    nbytes += 4;
    return write_failed ? -1 : 0;
  }
  return write_cmd_long(out, delta, status, note, velocity);
}

std::uint8_t *track_room(std::FILE *out, std::size_t bytes) {
  make_room(out, bytes);
  // The same bound as write_cmd's: the track's length field is 32 bits.
  if (write_failed || pending.size() - pending_len < bytes || bytes > UINT32_MAX - nbytes) {
    return nullptr;
  }
  return pending.data() + pending_len;
}

void track_filled(std::size_t bytes) {
  pending_len += bytes;
  nbytes += static_cast<std::uint32_t>(bytes);
}

int write_eot(std::FILE *out) {
  if (end_of_track.size() > UINT32_MAX - nbytes) {
    return -1;
  }
  make_room(out, end_of_track.size());
  for (std::uint8_t b : end_of_track) {
    put(b);
  }
  return write_failed ? -1 : 0;
}

int fix_header(std::FILE *out) {
  // rewind would flush too, but it reports nothing and clears the error
  // indicator: a lost write has to be caught before it.
  if (flush_track(out) != 0 || fflush(out) != 0 || ferror(out)) {
    return -1;
  }
  rewind(out);
  // A second guard behind the check when the output was opened: a file
  // that did not go back to its start would get a second header.
  if (!at_file_start(out)) {
    return -1;
  }
  hdr[37] = static_cast<std::uint8_t>(nbytes >> 24);
  hdr[38] = static_cast<std::uint8_t>(nbytes >> 16);
  hdr[39] = static_cast<std::uint8_t>(nbytes >> 8);
  hdr[40] = static_cast<std::uint8_t>(nbytes);
  return write_header(out);
}
