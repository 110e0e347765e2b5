// QEV output: comment lines first, then event lines gathered in a large
// buffer and handed to the stream in large writes.
#include "qev_writer.h"

#include "characters.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

// 0 to 999 written out with a space after, four bytes to copy at once:
// without leading zeros, as a number starts, and with them, as the later
// groups of three digits of a larger one are.
struct small_number {
  std::array<char, 4> text, padded;
  std::uint8_t length; // of text, with its space
};

static constexpr std::array<small_number, 1000> make_small_numbers() {
  std::array<small_number, 1000> t{};
  for (unsigned v = 0; v < 1000; ++v) {
    small_number &n = t[v];
    unsigned digits = v >= 100 ? 3 : v >= 10 ? 2 : 1;
    n.length = static_cast<std::uint8_t>(digits + 1);
    for (unsigned i = 3, rest = v; i-- > 0; rest /= 10) {
      n.padded[i] = static_cast<char>('0' + rest % 10);
    }
    for (unsigned i = 0; i < digits; ++i) {
      n.text[i] = n.padded[3 - digits + i];
    }
    n.text[digits] = n.padded[3] = ' ';
  }
  return t;
}

static constexpr std::array<small_number, 1000> small_numbers = make_small_numbers();

// v (below 1000) and a space at out, which has room for four bytes; returns
// where they end.
static char *put_small(char *out, std::uint32_t v) {
  const small_number &n = small_numbers[v];
  std::memcpy(out, n.text.data(), 4);
  return out + n.length;
}

static char *put_padded(char *out, std::uint32_t v) {
  std::memcpy(out, small_numbers[v].padded.data(), 4);
  return out + 4;
}

std::size_t format_event(char *out, const midi_note &n) {
  std::uint32_t seconds = n.ms / 1000;
  char *p = out;
  // The groups of three digits before the last go without their spaces.
  if (seconds < 1000) {
    p = put_small(p, seconds);
  } else if (seconds < 1000000) {
    p = put_padded(put_small(p, seconds / 1000) - 1, seconds % 1000);
  } else {
    p = put_padded(put_small(p, seconds / 1000000) - 1, seconds / 1000 % 1000) - 1;
    p = put_padded(p, seconds % 1000);
  }
  p = put_small(p, n.ms % 1000);
  // A note on with velocity 0 stays as it is written, so that qev2mid gives
  // back the same bytes; qevcheck reads it as a note off.
  const char middle[4] = {static_cast<char>('a' + (n.status & 0x0F)), ' ',
                          (n.status & 0xF0) == 0x90 ? 'P' : 'D', ' '};
  std::memcpy(p, middle, 4);
  p = put_small(p + 4, n.note);
  p = put_small(p, n.velocity);
  p[-1] = '\n';
  return static_cast<std::size_t>(p - out);
}

// The name as a comment can hold it: no directory, nothing that could end
// the line or the input, and well short of the longest line.
static std::string shown_name(const char *name) {
  const char *base = name;
  for (const char *p = name; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') {
      base = p + 1;
    }
  }
  return printable_name(base, 160);
}

static std::string counted(std::uint64_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A time in milliseconds as seconds: "12.345 s".
static std::string seconds(std::uint32_t ms) {
  std::string frac = std::to_string(1000 + ms % 1000).substr(1);
  return std::to_string(ms / 1000) + "." + frac + " s";
}

// What a salvage read past, and what it lost.
static std::string damage_lines(const midi_file_info &info) {
  std::string s;
  for (const midi_damage &d : info.damage) {
    s += "# damaged at byte " + std::to_string(d.offset) + ": " + d.reason;
    if (d.timed) {
      s += "; the notes of track " + std::to_string(d.track) + " after " + seconds(d.lost_after) +
           " are lost";
    }
    s += "\n";
  }
  if (info.cut) {
    s += "# no note after " + seconds(info.cut_ms) + " is written: track " +
         std::to_string(info.cut_track) +
         ", damaged there, may have changed the tempo after it, which times every track\n";
  }
  if (info.tracks_lost != 0) {
    s += "# " + counted(info.tracks_lost, "track", "tracks") + " after the damaged one " +
         (info.tracks_lost == 1 ? "is" : "are") + " lost: each starts where the one before ends\n";
  }
  return s;
}

std::string damage_summary(const midi_file_info &info) {
  if (info.damage.empty()) {
    return "";
  }
  const midi_damage &d = info.damage.front();
  std::string s = std::string(d.reason) + " at byte " + std::to_string(d.offset);
  if (info.damage.size() > 1) {
    s += ", and " + counted(info.damage.size() - 1, "more fault", "more faults");
  }
  return s;
}

static std::string preamble(const char *name, const midi_file_info &info, bool salvage) {
  std::string s = "# ";
  if (name != nullptr) {
    s += shown_name(name) + ": ";
  }
  s += "Standard MIDI File, format " + std::to_string(info.format) + ", " +
       counted(info.tracks_found, "track", "tracks") + ", ";
  if (!info.smpte) {
    s += counted(info.ticks_per_quarter, "tick", "ticks") + " per quarter note\n";
  } else {
    s += info.frames_per_second == 29 ? std::string("30 drop-frame")
                                      : std::to_string(info.frames_per_second);
    s += " frames per second, " + counted(info.ticks_per_frame, "tick", "ticks") + " per frame\n";
  }
  if (info.tracks_beyond != 0) {
    s += "# the file holds " + counted(info.tracks_beyond, "track", "tracks") +
         " more than its header announces, " +
         (salvage ? "read here\n" : "not read here; mid2qev --salvage reads them\n");
  }
  s += damage_lines(info);
  std::string dropped = dropped_summary(info);
  if (!dropped.empty()) {
    s += "# QEV holds notes only; dropped: " + dropped + "\n";
  }
  return s;
}

std::string dropped_summary(const midi_file_info &info) {
  static constexpr char kinds[][2][18] = {
      {"program change", "program changes"},
      {"controller", "controllers"},
      {"pitch bend", "pitch bends"},
      {"aftertouch", "aftertouch events"},
      {"system exclusive", "system exclusives"},
      {"meta event", "meta events"},
  };
  static_assert(std::size(kinds) == static_cast<std::size_t>(dropped_kind::kinds));
  std::string dropped;
  for (std::size_t k = 0; k < std::size(kinds); ++k) {
    if (info.dropped[k] != 0) {
      dropped += dropped.empty() ? "" : ", ";
      dropped += counted(info.dropped[k], kinds[k][0], kinds[k][1]);
    }
  }
  return dropped;
}

// Said before each note off that a salvage adds.
static constexpr char added_note[] =
    "# added: a note off for a note left sounding where the file is damaged\n";

int write_qev(std::FILE *out, midi_reading &reading, const char *name, const midi_file_info &info) {
  std::string head = preamble(name, info, reading.salvage);
  std::fwrite(head.data(), 1, head.size(), out);
  std::vector<char> pending(64 * 1024);
  std::size_t len = 0;
  midi_note n{};
  while (midi_next(reading, &n)) {
    // Room for an event line, and for the comment that comes with an added one.
    if (pending.size() - len < event_line_room + sizeof added_note) {
      std::fwrite(pending.data(), 1, len, out);
      len = 0;
      // A failed write ends the run where it happens.
      if (std::ferror(out)) {
        return -1;
      }
    }
    if (n.added) {
      std::memcpy(pending.data() + len, added_note, sizeof added_note - 1);
      len += sizeof added_note - 1;
    }
    len += format_event(pending.data() + len, n);
  }
  std::fwrite(pending.data(), 1, len, out);
  return std::fflush(out) != 0 || std::ferror(out) ? -1 : 0;
}
