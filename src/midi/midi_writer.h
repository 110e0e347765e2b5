// MIDI output: a format 1 Standard MIDI File with a fixed tempo track and one
// event track, one tick per millisecond.
#ifndef QEV2MID_MIDI_WRITER_H
#define QEV2MID_MIDI_WRITER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// One tick is one millisecond, so that a gap in milliseconds is written
// unchanged as a delta.
inline constexpr std::uint16_t ticks_per_quarter = 500;
inline constexpr std::uint32_t tempo_us_per_quarter = 500000;

// The largest delta a variable-length quantity of four bytes can carry; a
// longer gap is bridged with empty meta events that carry this much each.
inline constexpr std::uint32_t max_delta = 0x0FFFFFFF;

// The header block as it starts, written out byte by byte as it lands in the
// file; the assertions tie it to the timing it claims.
inline constexpr std::array<std::uint8_t, 41> hdr_template = {
    'M',  'T',  'h',  'd',  0x00, 0x00, 0x00, 0x06, // header chunk, 6 bytes
    0x00, 0x01, 0x00, 0x02, 0x01, 0xF4,             // format 1, two tracks, 500 ticks per beat
    'M',  'T',  'r',  'k',  0x00, 0x00, 0x00, 0x0B, // tempo track, 11 bytes
    0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,       // 500,000 us per beat: a tick is 1 ms
    0x00, 0xFF, 0x2F, 0x00,                         // end of the tempo track
    'M',  'T',  'r',  'k',  0x00, 0x00, 0x00, 0x00, // event track, length patched at the end
};
static_assert(hdr_template[12] == ticks_per_quarter >> 8 &&
              hdr_template[13] == (ticks_per_quarter & 0xFF));
static_assert(hdr_template[26] == tempo_us_per_quarter >> 16 &&
              hdr_template[27] == ((tempo_us_per_quarter >> 8) & 0xFF) &&
              hdr_template[28] == (tempo_us_per_quarter & 0xFF));
static_assert(tempo_us_per_quarter / ticks_per_quarter == 1000, "a tick must be a millisecond");

// Everything ahead of the event track's data, as hdr_template until the file
// is finished and the event track's length (offsets 37 to 40) is filled in.
extern std::array<std::uint8_t, 41> hdr;

// Bytes put into the event track so far; the header block does not count.
extern std::uint32_t nbytes;

// Each of these returns 0 on success and -1 on failure.
int write_header(std::FILE *out);
int write_cmd(std::FILE *out, std::uint32_t delta, std::uint8_t status, std::uint8_t note,
              std::uint8_t velocity);
int write_eot(std::FILE *out);
int fix_header(std::FILE *out);

// Puts value as a variable-length quantity; value must not exceed 0x0FFFFFFF.
void write_var_len(std::FILE *out, std::uint32_t value);

// The same at q, which has room for 4 bytes; returns where it ends.
inline std::uint8_t *put_var_len(std::uint8_t *q, std::uint32_t value) {
  if (value >= 1u << 21) {
    *q++ = static_cast<std::uint8_t>(0x80 | (value >> 21 & 0x7F));
  }
  if (value >= 1u << 14) {
    *q++ = static_cast<std::uint8_t>(0x80 | (value >> 14 & 0x7F));
  }
  if (value >= 1u << 7) {
    *q++ = static_cast<std::uint8_t>(0x80 | (value >> 7 & 0x7F));
  }
  *q++ = static_cast<std::uint8_t>(value & 0x7F);
  return q;
}

// For a caller that puts many usual events in a row itself: a place among
// the gathered track bytes with room for bytes more, made by handing over
// what is gathered if need be. Null when a write has failed or the track's
// length field has no room for them. track_filled counts what was put there.
std::uint8_t *track_room(std::FILE *out, std::size_t bytes);
void track_filled(std::size_t bytes);

// Track bytes are gathered and handed to the stream in large writes. This
// hands over what is gathered; fix_header does so itself.
int flush_track(std::FILE *out);

#endif
