#include "midi/midi_reader.h"
#include "qev/qev_writer.h"

#include "test_names.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &p : parts) {
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

Bytes be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

Bytes chunk(const char *id, const Bytes &body) {
  return cat({Bytes(id, id + 4), be32(static_cast<std::uint32_t>(body.size())), body});
}

Bytes header(unsigned format, unsigned tracks, std::uint16_t division) {
  return chunk("MThd",
               {0, static_cast<std::uint8_t>(format), 0, static_cast<std::uint8_t>(tracks),
                static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division)});
}

Bytes track(const Bytes &events) {
  return chunk("MTrk", events);
}

const Bytes eot = {0x00, 0xFF, 0x2F, 0x00};

// A file's note lines as mid2qev writes them, or "error: REASON at N".
std::string read(const Bytes &file) {
  midi_reading reading;
  midi_file_info info{};
  midi_fault fault{};
  if (!midi_open(reading, file.data(), file.size(), &info, &fault)) {
    return "error: " + std::string(fault.reason) + " at " + std::to_string(fault.offset);
  }
  std::string lines;
  midi_note n{};
  while (midi_next(reading, &n)) {
    char line[event_line_room];
    lines.append(line, format_event(line, n));
  }
  return lines;
}

// The whole of what mid2qev --salvage writes, less the line that names the
// file and what QEV drops, or "error: REASON at N".
std::string salvage(const Bytes &file) {
  midi_reading reading;
  midi_file_info info{};
  midi_fault fault{};
  if (!midi_open(reading, file.data(), file.size(), &info, &fault, true)) {
    return "error: " + std::string(fault.reason) + " at " + std::to_string(fault.offset);
  }
  std::FILE *out = std::tmpfile();
  if (out == nullptr || write_qev(out, reading, nullptr, info) != 0) {
    return "write failed";
  }
  std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  text.resize(std::fread(text.data(), 1, text.size(), out));
  std::fclose(out);
  std::string kept;
  for (std::size_t at = text.find('\n') + 1, end = 0; at < text.size(); at = end) {
    end = text.find('\n', at) + 1;
    if (text.compare(at, 24, "# QEV holds notes only; ") != 0) {
      kept.append(text, at, end - at);
    }
  }
  return kept;
}

// A file, what mid2qev gives for it, and what --salvage gives where that
// differs.
struct Case {
  const char *name;
  Bytes file;
  std::string want;
  std::string salvaged = "";
};

const Case cases[] = {
    {"qev2mid's own output",
     cat({header(1, 2, 500),
          track({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0xFF, 0x2F, 0x00}),
          track({0x00, 0x90, 0x3C, 0x64, 0x87, 0x68, 0x80, 0x3C, 0x00, 0xFF, 0xFF, 0xFF,
                 0x7F, 0xFF, 0x01, 0x00, 0x01, 0x90, 0x3D, 0x00, 0x00, 0xFF, 0x2F, 0x00})}),
     "0 0 a P 60 100\n1 0 a D 60 0\n268436 456 a P 61 0\n"},
    {"running status after meta and sysex",
     cat({header(0, 1, 96), track({0x00, 0x91, 0x40, 0x50, 0x00, 0xFF, 0x01, 0x02, 'h',  'i',
                                   0x00, 0xF0, 0x02, 0x7E, 0xF7, 0x60, 0x40, 0x00, 0x00, 0xF7,
                                   0x01, 0x81, 0x00, 0x41, 0x50, 0x00, 0xFF, 0x2F, 0x00})}),
     "0 0 b P 64 80\n0 500 b P 64 0\n0 500 b P 65 80\n"},
    {"halves round up, ties keep tick order",
     // A tick is 0.25 ms: 0.5 ms rounds up to 1, as 1 ms is, and they keep their order.
     cat({header(0, 1, 2000),
          track({0x02, 0x90, 0x01, 0x01, 0x02, 0x90, 0x02, 0x01, 0x00, 0xFF, 0x2F, 0x00})}),
     "0 1 a P 1 1\n0 1 a P 2 1\n"},
    {"a tempo in a later track applies to all",
     cat({header(1, 2, 1), track({0x02, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}),
          track({0x01, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, 0x00, 0xFF, 0x2F, 0x00})}),
     "1 500 a P 60 64\n"},
    {"same time: earlier track first",
     cat({header(1, 2, 1), track({0x00, 0x92, 0x01, 0x01, 0x00, 0xFF, 0x2F, 0x00}),
          track({0x00, 0x91, 0x02, 0x02, 0x00, 0xFF, 0x2F, 0x00})}),
     "0 0 c P 1 1\n0 0 b P 2 2\n"},
    {"same time: the lower track first, whichever played last",
     cat({header(1, 2, 500), track({0x05, 0x90, 0x01, 0x01}),
          track({0x00, 0x91, 0x02, 0x02, 0x05, 0x91, 0x03, 0x03})}),
     "0 0 b P 2 2\n0 5 a P 1 1\n0 5 b P 3 3\n"},
    {"SMPTE 25 fps, 40 ticks a frame, tempo ignored",
     cat({header(0, 1, 0xE728), track({0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x01, 0x28, 0x90, 0x3C,
                                       0x40, 0x00, 0xFF, 0x2F, 0x00})}),
     "0 40 a P 60 64\n"},
    {"SMPTE 30 drop-frame", cat({header(0, 1, 0xE301), track({0x1E, 0x90, 0x3C, 0x40})}),
     "1 1 a P 60 64\n"},
    {"format 2 plays tracks one after another",
     cat({header(2, 2, 500), track({0x00, 0x90, 0x01, 0x01, 0x87, 0x68, 0xFF, 0x2F, 0x00}),
          track({0x00, 0x90, 0x02, 0x02, 0x00, 0xFF, 0x2F, 0x00})}),
     "0 0 a P 1 1\n1 0 a P 2 2\n"},
    {"tracks that pass several tempo changes between notes",
     // 500 ms to tick 1, then 1, 2, 3, 4 and 5 s a tick from ticks 1 to 5.
     cat({header(1, 3, 1),
          track({0x01, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, 0x01, 0xFF, 0x51, 0x03, 0x1E,
                 0x84, 0x80, 0x01, 0xFF, 0x51, 0x03, 0x2D, 0xC6, 0xC0, 0x01, 0xFF, 0x51,
                 0x03, 0x3D, 0x09, 0x00, 0x01, 0xFF, 0x51, 0x03, 0x4C, 0x4B, 0x40}),
          track({0x00, 0x90, 0x01, 0x01, 0x03, 0x90, 0x02, 0x01, 0x04, 0x90, 0x03, 0x01}),
          track({0x04, 0x91, 0x04, 0x01})}),
     "0 0 a P 1 1\n3 500 a P 2 1\n6 500 b P 4 1\n20 500 a P 3 1\n"},
    {"format 2: each track keeps its own tempo",
     cat({header(2, 2, 1),
          track({0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, 0x01, 0x90, 0x01, 0x01, 0x01, 0xFF, 0x2F,
                 0x00}),
          track({0x01, 0x90, 0x02, 0x02, 0x00, 0xFF, 0x2F, 0x00})}),
     "1 0 a P 1 1\n2 500 a P 2 2\n"},
    {"channel pressure has one data byte",
     cat({header(0, 1, 500), track({0x00, 0xD0, 0x40, 0x00, 0x90, 0x3C, 0x40})}),
     "0 0 a P 60 64\n"},
    {"a tempo change between two milliseconds",
     // Tick 1 is at 0.4 ms; the note at tick 2, 1.1 ms later, is at 1.5 ms.
     cat({header(0, 1, 10), track({0x00, 0xFF, 0x51, 0x03, 0x00, 0x0F, 0xA0, 0x01, 0xFF, 0x51, 0x03,
                                   0x00, 0x2A, 0xF8, 0x01, 0x90, 0x3C, 0x40})}),
     "0 2 a P 60 64\n"},
    {"whole milliseconds a tick from a segment that starts between two",
     // Tick 1 is at 0.6 ms, and ticks of 1 ms follow: the note is at 1.6 ms.
     cat({header(0, 1, 10), track({0x00, 0xFF, 0x51, 0x03, 0x00, 0x17, 0x70, 0x01, 0xFF, 0x51, 0x03,
                                   0x00, 0x27, 0x10, 0x01, 0x90, 0x3C, 0x40})}),
     "0 2 a P 60 64\n"},
    {"a note at the last millisecond",
     // 16843009 ticks of 255 ms.
     cat({header(0, 1, 1), track({0x00, 0xFF, 0x51, 0x03, 0x03, 0xE4, 0x18, 0x88, 0x84, 0x82, 0x01,
                                  0x90, 0x01, 0x01})}),
     "4294967 295 a P 1 1\n"},
    {"seconds with zeros inside", cat({header(0, 1, 1), track({0x92, 0x60, 0x90, 0x01, 0x01})}),
     "1200 0 a P 1 1\n"},
    {"unknown chunks and bytes after the tracks",
     cat({header(0, 1, 500), chunk("XFIH", {1, 2, 3}), track({0x00, 0x90, 0x01, 0x01}),
          Bytes{'j', 'u', 'n', 'k'}}),
     "0 0 a P 1 1\n"},
    {"bytes after End of Track",
     cat({header(0, 1, 500), track(cat({eot, {0x00, 0x90, 0x01, 0x01}}))}), ""},
    {"RIFF RMID",
     cat({Bytes{'R', 'I', 'F', 'F', 38,  0,   0,  0, 'R', 'M',
                'I', 'D', 'd', 'a', 't', 'a', 26, 0, 0,   0},
          header(0, 1, 500), track({0x00, 0x90, 0x01, 0x01})}),
     "0 0 a P 1 1\n"},
    {"RIFF pad byte past the end",
     Bytes{'R', 'I', 'F', 'F', 13, 0, 0, 0, 'R', 'M', 'I', 'D', 'a', 'b', 'c', 'd', 1, 0, 0, 0, 0},
     "error: no data chunk in the RIFF RMID file at 21", "error: no MThd at the start at 0"},
    {"zeros after too few tracks",
     cat({header(0, 2, 500), track({0x00, 0x90, 0x01, 0x01}), Bytes(9)}),
     "error: the file ends after 1 of the 2 tracks its header announces at 35",
     "# damaged at byte 35: the file ends after 1 of the 2 tracks its header announces\n0 0 a P 1 "
     "1\n"},
    {"tracks beyond those announced are not read",
     cat({header(1, 1, 500), track({0x00, 0x90, 0x01, 0x01}), track({0x00, 0x90, 0x02, 0x01})}),
     "0 0 a P 1 1\n",
     "# the file holds 1 track more than its header announces, read here\n0 0 a P 1 1\n0 0 a P 2 "
     "1\n"},

    // A salvage: each track up to its damage, its notes left sounding ended
    // there, and no note past damage that may have held tempo changes.
    {"a cut in a later track keeps the others",
     cat({header(1, 2, 480),
          track({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0x90, 60,   100,  0x83, 0x60,
                 0x80, 60,   0,    0x83, 0x60, 0x90, 62,   100,  0x83, 0x60, 0x80, 62,   0}),
          track({0x00, 0x91, 40, 90, 0x83, 0x60, 0x91, 41, 90, 0x83, 0x60, 0x91})}),
     "error: track 2 ends inside an event at 68",
     "# damaged at byte 68: track 2 ends inside an event; the notes of track 2 after 0.500 s are "
     "lost\n0 0 a P 60 100\n0 0 b P 40 90\n0 500 a D 60 0\n0 500 b P 41 90\n"
     "# added: a note off for a note left sounding where the file is damaged\n0 500 b D 40 0\n# "
     "added: a note off for a note left sounding where the file is damaged\n0 500 b D 41 0\n1 0 a "
     "P 62 100\n1 500 a D 62 0\n"},
    {"a cut first track cuts every track",
     cat({header(1, 2, 480),
          track({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0x90, 60, 100, 0x83, 0x60, 0x80,
                 60, 0, 0x83, 0x60, 0xF4}),
          track({0x00, 0x91, 40, 90, 0x87, 0x40, 0x81, 40, 0, 0x00, 0x91, 41, 90})}),
     "error: status byte 0xF4 inside a track at 40",
     "# damaged at byte 40: status byte 0xF4 inside a track; the notes of track 1 after 0.500 s "
     "are lost\n# no note after 0.500 s is written: track 1, damaged there, may have changed the "
     "tempo after it, which times every track\n0 0 a P 60 100\n0 0 b P 40 90\n0 500 a D 60 0\n"
     "# added: a note off for a note left sounding where the file is damaged\n0 500 b D 40 0\n"},
    {"with SMPTE timing, no tempo to lose",
     cat({header(1, 2, 0xE728),
          track({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00, 0x90, 60, 100, 0x83, 0x60, 0x80,
                 60, 0, 0x83, 0x60, 0xF4}),
          track({0x00, 0x91, 40, 90, 0x87, 0x40, 0x81, 40, 0, 0x00, 0x91, 41, 90})}),
     "error: status byte 0xF4 inside a track at 40",
     "# damaged at byte 40: status byte 0xF4 inside a track; the notes of track 1 after 0.480 s "
     "are lost\n0 0 a P 60 100\n0 0 b P 40 90\n0 480 a D 60 0\n0 960 b D 40 0\n"
     "0 960 b P 41 90\n"},
    {"a later track's tempo change before its damage cuts every track",
     cat({header(1, 2, 480), track({0x00, 0x90, 60, 100, 0x87, 0x40, 0x80, 60, 0}),
          track({0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x83, 0x60, 0x91, 40, 90, 0x83, 0x60,
                 0xF4})}),
     "error: status byte 0xF4 inside a track at 53",
     "# damaged at byte 53: status byte 0xF4 inside a track; the notes of track 2 after 0.500 s "
     "are lost\n# no note after 0.500 s is written: track 2, damaged there, may have changed the "
     "tempo after it, which times every track\n0 0 a P 60 100\n0 500 b P 40 90\n"
     "# added: a note off for a note left sounding where the file is damaged\n0 500 b D 40 0\n# "
     "added: a note off for a note left sounding where the file is damaged\n0 500 a D 60 0\n"},
    {"format 2: the tracks after a damaged one are lost",
     cat({header(2, 2, 480), track({0x00, 0x90, 1, 1, 0x83, 0x60, 0xF4}),
          track({0x00, 0x90, 2, 2})}),
     "error: status byte 0xF4 inside a track at 28",
     "# damaged at byte 28: status byte 0xF4 inside a track; the notes of track 1 after 0.000 s "
     "are lost\n# 1 track after the damaged one is lost: each starts where the one before ends\n"
     "0 0 a P 1 1\n# added: a note off for a note left sounding where the file is damaged\n0 0 a D "
     "1 0\n"},
    {"an MThd at the very end", Bytes{'1', 'M', 'T', 'h', 'd', 0, 0},
     "error: an MThd after 1 bytes of something else at 1",
     "error: the file ends inside the header chunk, 8 bytes short at 7"},
    {"a RIFF whose sizes lie",
     cat({Bytes{'R', 'I', 'F',  'F',  0, 0, 0,   0,   'R', 'M', 'I', 'D', 'L', 'I',
                'S', 'T', 0xFF, 0xFF, 0, 0, 'd', 'a', 't', 'a', 26,  0,   0,   0},
          header(0, 1, 500), track({0x00, 0x90, 0x01, 0x01})}),
     "error: no data chunk in the RIFF RMID file at 12",
     "# damaged at byte 28: an MThd after 28 bytes of something else\n0 0 a P 1 1\n"},

    {"not MIDI", Bytes{'0', ' ', '0', ' ', 'a', '\n', 0, 0}, "error: no MThd at the start at 0"},
    {"behind a MacBinary header", cat({Bytes(128), header(0, 1, 500), track(eot)}),
     "error: an MThd after 128 bytes of something else, such as a MacBinary header at 128",
     "# damaged at byte 128: an MThd after 128 bytes of something else, such as a MacBinary "
     "header\n"},
    {"fewer tracks than announced",
     cat({header(1, 3, 500), track({0x00, 0x90, 0x01, 0x01}), Bytes(4)}),
     "error: the file ends after 1 of the 3 tracks its header announces at 30",
     "# damaged at byte 30: the file ends after 1 of the 3 tracks its header announces\n0 0 a P 1 "
     "1\n"},
    {"a header chunk of 5 bytes",
     cat({chunk("MThd", {0, 0, 0, 1, 0x01}), track({0x00, 0x90, 0x01, 0x01})}),
     "error: a header chunk of 5 bytes, fewer than 6 at 4"},
    {"format 3", cat({header(3, 1, 500)}), "error: format 3 is not 0, 1 or 2 at 8"},
    {"ends inside the header chunk", Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1},
     "error: the file ends inside the header chunk, 2 bytes short at 12"},
    {"a header length that lies, before a track",
     cat({Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 7, 0, 0, 0, 1, 1, 0xF4}, track(eot)}),
     "error: the header chunk's length says 7 bytes, but a track starts after 6 at 4",
     "# damaged at byte 4: the header chunk's length says 7 bytes, but a track starts after 6\n"},
    {"a header length longer than the file",
     cat({Bytes{'M', 'T', 'h', 'd', 0, 0, 0, 60, 0, 0, 0, 1, 1, 0xF4}}),
     "error: the header chunk's length says 60 bytes, more than the file holds at 4",
     "# damaged at byte 4: the header chunk's length says 60 bytes, more than the file holds\n# "
     "damaged at byte 14: the file ends after 0 of the 1 tracks its header announces\n"},
    {"division 0", cat({header(0, 1, 0)}), "error: a division of 0 ticks per quarter note at 12"},
    {"SMPTE rate -23", cat({header(0, 1, 0xE901)}),
     "error: SMPTE rate -23 is not -24, -25, -29 or -30 at 12"},
    {"truncated track", cat({header(0, 1, 500), be32(0x4D54726B), be32(9), Bytes{0x00, 0x90}}),
     "error: track 1's length says 9 bytes, 7 more than the file holds at 18",
     "# damaged at byte 18: track 1's length says 9 bytes, 7 more than the file holds; the notes "
     "of track 1 after 0.000 s are lost\n# no note after 0.000 s is written: track 1, damaged "
     "there, may have changed the tempo after it, which times every track\n"},
    {"a track length of 0 before its events",
     cat({header(0, 2, 500), be32(0x4D54726B), be32(0), Bytes{0x00, 0x90, 0x01, 0x01}, track(eot)}),
     "error: track 1's length says 0 bytes, but no chunk follows it at 18",
     "# damaged at byte 18: track 1's length says 0 bytes, but no chunk follows it\n0 0 a P 1 1\n"},
    {"a last track that runs on past its length",
     cat({header(0, 1, 500), track({0x00, 0x90, 0x01, 0x01}),
          Bytes{0x01, 0x90, 0x02, 0x01, 0x00, 0xFF, 0x2F, 0x00}}),
     "error: track 1's length says 4 bytes, but its events go on after it at 18",
     "# damaged at byte 18: track 1's length says 4 bytes, but its events go on after it\n"
     "0 0 a P 1 1\n0 1 a P 2 1\n"},
    {"another chunk cut short",
     cat({header(0, 1, 500), Bytes{'X', 'F', 'I', 'H'}, be32(9), Bytes{1}}),
     "error: chunk XFIH's length says 9 bytes, 8 more than the file holds at 18",
     "# damaged at byte 18: chunk XFIH's length says 9 bytes, 8 more than the file holds\n"},
    {"ends inside a chunk header", cat({header(0, 2, 500), track(eot), Bytes{'M', 'T'}}),
     "error: the file ends inside the header of chunk 2 at 26",
     "# damaged at byte 26: the file ends inside the header of chunk 2\n"},
    {"ends inside an event", cat({header(0, 1, 500), track({0x00, 0x90, 0x01})}),
     "error: track 1 ends inside an event at 25",
     "# damaged at byte 25: track 1 ends inside an event; the notes of track 1 after 0.000 s are "
     "lost\n# no note after 0.000 s is written: track 1, damaged there, may have changed the tempo "
     "after it, which times every track\n"},
    {"long variable-length number",
     cat({header(0, 1, 500), track({0x81, 0x81, 0x81, 0x81, 0x00, 0x90, 0x01, 0x01})}),
     "error: a variable-length number longer than 4 bytes at 22",
     "# damaged at byte 22: a variable-length number longer than 4 bytes; the notes of track 1 "
     "after 0.000 s are lost\n# no note after 0.000 s is written: track 1, damaged there, may have "
     "changed the tempo after it, which times every track\n"},
    {"data byte with no running status", cat({header(0, 1, 500), track({0x00, 0x3C, 0x40})}),
     "error: a data byte with no running status at 23",
     "# damaged at byte 23: a data byte with no running status; the notes of track 1 after 0.000 s "
     "are lost\n# no note after 0.000 s is written: track 1, damaged there, may have changed the "
     "tempo after it, which times every track\n"},
    {"a status byte for a data byte", cat({header(0, 1, 500), track({0x00, 0x90, 0x90, 0x40})}),
     "error: status byte 0x90 inside a channel message at 24",
     "# damaged at byte 24: status byte 0x90 inside a channel message; the notes of track 1 after "
     "0.000 s are lost\n# no note after 0.000 s is written: track 1, damaged there, may have "
     "changed the tempo after it, which times every track\n"},
    {"status F4 in a track", cat({header(0, 1, 500), track({0x00, 0xF4})}),
     "error: status byte 0xF4 inside a track at 23",
     "# damaged at byte 23: status byte 0xF4 inside a track; the notes of track 1 after 0.000 s "
     "are lost\n# no note after 0.000 s is written: track 1, damaged there, may have changed the "
     "tempo after it, which times every track\n"},
    {"a meta event one byte longer than its track",
     cat({header(0, 1, 500), track({0x00, 0xFF, 0x01, 0x02, 'a'})}),
     "error: track 1 ends inside an event at 27",
     "# damaged at byte 27: track 1 ends inside an event; the notes of track 1 after 0.000 s are "
     "lost\n# no note after 0.000 s is written: track 1, damaged there, may have changed the tempo "
     "after it, which times every track\n"},
    {"a note one millisecond too late",
     // 16777216 ticks of 256 ms.
     cat({header(0, 1, 1), track({0x00, 0xFF, 0x51, 0x03, 0x03, 0xE8, 0x00, 0x88, 0x80, 0x80, 0x00,
                                  0x90, 0x01, 0x01})}),
     "error: a note later than 4294967295 ms at 33"},
    {"later than 2^32 ms",
     // 0x0FFFFFFF ticks of 16.001 ms each, and a note after them.
     cat({header(0, 1, 1), track({0x00, 0xFF, 0x51, 0x03, 0x00, 0x3E, 0x81, 0xFF, 0xFF, 0xFF, 0x7F,
                                  0x90, 0x01, 0x01})}),
     "error: a note later than 4294967295 ms at 33"},
};

void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

class MidiReaderTest : public testing::TestWithParam<Case> {};

TEST_P(MidiReaderTest, GivesLinesOrReason) {
  EXPECT_EQ(read(GetParam().file), GetParam().want);
}

// A note that comes out of a salvage stands in the file with its time,
// channel, key and velocity; an added note off says so.
TEST_P(MidiReaderTest, SalvagesWhatCanBeRead) {
  const Case &c = GetParam();
  EXPECT_EQ(salvage(c.file), c.salvaged.empty() ? c.want : c.salvaged);
}

INSTANTIATE_TEST_SUITE_P(Files, MidiReaderTest, testing::ValuesIn(cases), row_name<Case>);

// Tracks past those the header announces are not read, and a comment says so.
TEST(MidiReader, SaysWhatItLeavesUnread) {
  Bytes file = cat({header(1, 1, 500), track({0x00, 0x90, 0x01, 0x01}),
                    track({0x00, 0x90, 0x02, 0x01}), chunk("XFIH", {}), track(eot)});
  midi_reading reading;
  midi_file_info info{};
  ASSERT_TRUE(midi_open(reading, file.data(), file.size(), &info, nullptr));
  std::FILE *out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ASSERT_EQ(write_qev(out, reading, nullptr, info), 0);
  std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  ASSERT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
  std::fclose(out);
  EXPECT_EQ(text.substr(text.find('\n') + 1),
            "# the file holds 2 tracks more than its header announces, not read here; mid2qev "
            "--salvage reads them\n"
            "0 0 a P 1 1\n");
}

} // namespace
