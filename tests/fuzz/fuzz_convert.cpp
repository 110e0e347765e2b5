// Runs the reader and the writer over arbitrary bytes, as qev2mid does, and
// checks that whatever file comes out is one every MIDI reader accepts. The
// same bytes go through mid2qev's reader: whatever it accepts must come back
// the same through qev2mid and mid2qev again.
#include "check/check_pass.h"
#include "check/finding_text.h"
#include "check/repair.h"
#include "midi/midi_reader.h"
#include "midi/midi_writer.h"
#include "qev/characters.h"
#include "qev/convert_events.h"
#include "qev/event_reader.h"
#include "qev/qev_writer.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

static void require(bool ok) {
  if (!ok) {
    std::abort();
  }
}

static std::FILE *memory_file(const char *mode) {
  int fd = memfd_create("fuzz", 0);
  require(fd >= 0);
  std::FILE *f = fdopen(fd, mode);
  require(f != nullptr);
  return f;
}

static constexpr std::uint8_t fixed_start[37] = {
    'M',  'T',  'h',  'd',  0x00, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00, 0x02, 0x01,
    0xF4, 'M',  'T',  'r',  'k',  0x00, 0x00, 0x00, 0x0B, 0x00, 0xFF, 0x51, 0x03,
    0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00, 'M',  'T',  'r',  'k'};

// Walks the event track: every delta at most four bytes, every channel event
// a note on or off with data bytes below 0x80, fillers only where a gap
// needs them, and the end of track last. Returns the times of the events.
static std::vector<std::uint64_t> walk_track(const std::vector<std::uint8_t> &file) {
  std::vector<std::uint64_t> times;
  std::size_t pos = 41;
  std::uint64_t now = 0;
  for (;;) {
    std::uint32_t delta = 0;
    int len = 0;
    for (;;) {
      require(pos < file.size() && len < 4);
      std::uint8_t b = file[pos++];
      ++len;
      delta = (delta << 7) | (b & 0x7Fu);
      if ((b & 0x80) == 0) {
        break;
      }
    }
    now += delta;
    require(pos + 3 <= file.size());
    std::uint8_t status = file[pos];
    if (status == 0xFF && file[pos + 1] == 0x2F) {
      require(file[pos + 2] == 0x00 && delta == 0 && pos + 3 == file.size());
      return times;
    }
    if (status == 0xFF) {
      require(file[pos + 1] == 0x01 && file[pos + 2] == 0x00 && delta == 0x0FFFFFFF);
    } else {
      require((status & 0xE0) == 0x80 && file[pos + 1] < 0x80 && file[pos + 2] < 0x80);
      times.push_back(now);
    }
    pos += 3;
  }
}

// Every finding has words that fit their bound and make one line of valid
// UTF-8, a code, and a column in characters no greater than the one in bytes.
static void check_words(const check_record &r) {
  char message[max_message];
  std::size_t n = finding_message(r, message);
  require(n > 0 && n < max_message && std::strlen(message) == n && r.code != finding_code::none);
  require(r.column <= r.byte_column && (r.line == 0) == (r.column == 0));
  for (std::size_t i = 0; i < n;) {
    char32_t cp = 0;
    std::size_t len = utf8_sequence(message + i, &cp);
    require(len != 0 && cp >= 0x20);
    i += len;
  }
}

static void collect_accepted(const check_record &r, void *times) {
  if (r.kind != check_kind::accepted) {
    check_words(r);
  } else {
    static_cast<std::vector<std::uint64_t> *>(times)->push_back(r.event.time);
  }
}

// All of a memory file's bytes.
static std::vector<std::uint8_t> contents(std::FILE *f) {
  std::fflush(f);
  int fd = fileno(f);
  off_t end = lseek(fd, 0, SEEK_END);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(end));
  require(pread(fd, bytes.data(), bytes.size(), 0) == end);
  return bytes;
}

// mid2qev's whole output for a MIDI file, or with --salvage; empty when
// the file is refused.
static std::string qev_text(const std::vector<std::uint8_t> &midi, bool salvage, bool *accepted,
                            midi_file_info *info) {
  midi_reading reading;
  midi_fault fault{};
  *accepted = midi_open(reading, midi.data(), midi.size(), info, &fault, salvage);
  if (!*accepted) {
    return {};
  }
  std::FILE *qev = memory_file("w+");
  require(write_qev(qev, reading, "fuzz.mid", *info) == 0);
  std::vector<std::uint8_t> text = contents(qev);
  std::fclose(qev);
  return {text.begin(), text.end()};
}

// A salvage reads every file whose header is usable, and of a file the
// default accepts, it writes the same, unless tracks stand past those its
// header announces, which it reads too.
static void check_salvage(const std::uint8_t *data, std::size_t size) {
  std::vector<std::uint8_t> midi(data, data + size);
  bool whole = false, salvaged = false;
  midi_file_info info{}, salvage_info{};
  std::string plain = qev_text(midi, false, &whole, &info);
  std::string kept = qev_text(midi, true, &salvaged, &salvage_info);
  require(!whole || salvaged);
  if (whole && info.tracks_beyond == 0) {
    require(kept == plain && salvage_info.damage.empty());
  }
}

// mid2qev's output for a MIDI file, less its comment lines; empty when the
// file is refused.
static std::string note_lines(const std::vector<std::uint8_t> &midi, bool *accepted) {
  midi_file_info info{};
  std::string all = qev_text(midi, false, accepted, &info), notes;
  for (std::size_t at = 0; at < all.size();) {
    std::size_t lf = all.find('\n', at);
    require(lf != std::string::npos);
    if (all[at] != '#') {
      notes.append(all, at, lf + 1 - at);
    }
    at = lf + 1;
  }
  return notes;
}

// mid2qev(qev2mid(mid2qev(m))) = mid2qev(m), comment lines apart.
static void check_way_back(const std::uint8_t *data, std::size_t size) {
  bool accepted = false;
  std::string first = note_lines(std::vector<std::uint8_t>(data, data + size), &accepted);
  if (!accepted) {
    return;
  }
  std::FILE *in = memory_file("w+");
  require(std::fwrite(first.data(), 1, first.size(), in) == first.size());
  std::rewind(in);
  std::FILE *out = memory_file("w+");
  convert_restart();
  require(write_header(out) == 0);
  std::uint32_t delta = 0;
  std::uint8_t status = 0, note = 0, velocity = 0;
  int rc = 0;
  while ((rc = parse_cmd(in, &delta, &status, &note, &velocity)) == 0) {
    require(write_cmd(out, delta, status, note, velocity) == 0);
  }
  require(rc == -1 && write_eot(out) == 0 && fix_header(out) == 0);
  std::string again = note_lines(contents(out), &accepted);
  require(accepted && again == first);
  std::fclose(in);
  std::fclose(out);
}

static void collect_events(const check_record &r, void *events) {
  if (r.kind == check_kind::accepted) {
    static_cast<std::vector<timed_event> *>(events)->push_back(r.event);
  }
}

// Whether every one of a's events stands in b, in order.
static bool kept_in(const std::vector<timed_event> &a, const std::vector<timed_event> &b) {
  std::size_t j = 0;
  for (const timed_event &e : a) {
    while (j < b.size() && std::memcmp(&b[j], &e, sizeof e) != 0) {
      ++j;
    }
    if (j++ >= b.size()) {
      return false;
    }
  }
  return true;
}

// Repairs: a round of safe fixes edits only the lines with a finding (but
// for the fixes of the whole file's encoding and line ends), keeps every
// event that converted, and rounds reach a point that a repair leaves alone.
static void check_repairs(const std::uint8_t *data, std::size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<found_fix> fixes = find_fixes(text, default_drums);
  std::vector<std::size_t> starts{0};
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      starts.push_back(i + 1);
    }
  }
  for (const found_fix &f : fixes) {
    bool whole = std::strcmp(f.fix.title, "Save the text as UTF-8") == 0 ||
                 std::strcmp(f.fix.title, "End the lines with line feeds") == 0 ||
                 std::strcmp(f.fix.title, "End the last line with a line feed") == 0;
    for (const fix_edit &e : f.fix.edits) {
      require(e.start <= e.end && e.end <= text.size());
      if (f.fix.safety == fix_safety::safe && !whole) {
        require(f.line >= 1 && f.line <= starts.size() && e.start >= starts[f.line - 1] &&
                (f.line == starts.size() || e.end < starts[f.line]));
      }
    }
  }
  std::string once = apply_fixes(text, fixes, false);
  std::vector<timed_event> before, after;
  if (check_bytes(text.data(), text.size(), default_drums, collect_events, &before) == 0) {
    check_bytes(once.data(), once.size(), default_drums, collect_events, &after);
    require(kept_in(before, after));
  }
  std::string fixed = repair(text, default_drums, false);
  require(repair(fixed, default_drums, false) == fixed);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::FILE *in = memory_file("w+");
  if (size > 0) {
    require(std::fwrite(data, 1, size, in) == size);
  }
  std::rewind(in);
  std::FILE *out = memory_file("wb");

  // One conversion per process in the program; here, one per input.
  convert_restart();

  require(write_header(out) == 0);
  std::vector<std::uint64_t> accepted;
  std::uint32_t delta = 0;
  std::uint8_t status = 0, note = 0, velocity = 0;
  int rc = 0;
  while ((rc = parse_cmd(in, &delta, &status, &note, &velocity)) == 0) {
    require(accepted.empty() || curtime >= accepted.back());
    require(curtime - delta == (accepted.empty() ? 0 : accepted.back()));
    accepted.push_back(curtime);
    require(write_cmd(out, delta, status, note, velocity) == 0);
  }
  require(rc == -1 || rc == -2);
  // qevcheck's pass accepts exactly these events and stops where the reader does.
  std::rewind(in);
  std::vector<std::uint64_t> checked;
  require((check_stream(in, default_drums, collect_accepted, &checked) == -2) == (rc == -2) &&
          checked == accepted);
  if (rc == -1) {
    require(write_eot(out) == 0 && fix_header(out) == 0);
    std::fflush(out);
    int fd = fileno(out);
    off_t end = lseek(fd, 0, SEEK_END);
    std::vector<std::uint8_t> file(static_cast<std::size_t>(end));
    require(pread(fd, file.data(), file.size(), 0) == end);
    require(file.size() >= 45 && std::memcmp(file.data(), fixed_start, 37) == 0);
    std::uint32_t length = static_cast<std::uint32_t>(file[37]) << 24 |
                           static_cast<std::uint32_t>(file[38]) << 16 |
                           static_cast<std::uint32_t>(file[39]) << 8 | file[40];
    require(length == file.size() - 41 && length == nbytes);
    require(walk_track(file) == accepted);
  }
  // qev2mid's own loop, which puts most events itself, must write the same
  // file, or fail to read where this did.
  std::rewind(in);
  std::FILE *again = memory_file("w+b");
  convert_restart();
  convert_result converted = convert_events(in, again);
  require(rc == -1 ? converted == convert_result::ok && contents(again) == contents(out)
                   : converted == convert_result::read_failed);
  std::fclose(again);
  std::fclose(in);
  std::fclose(out);
  check_way_back(data, size);
  check_salvage(data, size);
  check_repairs(data, size);
  return 0;
}
