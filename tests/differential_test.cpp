// The reader against its plain reference: the platform's sscanf for the
// field scan, and a byte-by-byte text-mode reader for the lines.
#include "check/check_pass.h"
#include "layers.h"
#include "midi/midi_writer.h"
#include "qev/convert_events.h"
#include "qev/event_reader.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Rng = std::mt19937_64;

std::size_t pick(Rng &rng, std::size_t n) {
  return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
}

const char *const white[] = {" ", "  ", "\t", "\v", "\f", "\r", " \t\v\f\r "};

std::string digits(Rng &rng, std::size_t count) {
  std::string s;
  for (std::size_t i = 0; i < count; ++i) {
    s += static_cast<char>('0' + pick(rng, 10));
  }
  return s;
}

// A number as it may be written: small or huge, signed, zero-padded.
std::string number(Rng &rng) {
  static const char *const edges[] = {"0",
                                      "127",
                                      "128",
                                      "255",
                                      "256",
                                      "999",
                                      "1000",
                                      "4294967",
                                      "4294967295",
                                      "4294967296",
                                      "18446744073709551615",
                                      "18446744073709551616",
                                      "99999999999999999999999"};
  std::string sign = pick(rng, 8) == 0 ? (pick(rng, 2) ? "+" : "-") : "";
  std::string zeros = pick(rng, 8) == 0 ? std::string(pick(rng, 22), '0') : "";
  std::string body = pick(rng, 4) == 0 ? edges[pick(rng, std::size(edges))]
                                       : digits(rng, 1 + pick(rng, pick(rng, 3) ? 4 : 12));
  return sign + zeros + body;
}

// A line in the plain form that most files use, with lengths and values
// around the limits of the fast scan and of the rules.
std::string plain_number(Rng &rng, std::size_t max_digits) {
  // Bytes next to the digits, '/' and ':' to '?', must not pass for them.
  static const char *const edges[] = {"0",   "00",   "127", "128", "0127", "255",
                                      "999", "1000", "6:",  "/1",  "1?0",  "12;"};
  return pick(rng, 4) == 0 ? edges[pick(rng, std::size(edges))]
                           : digits(rng, 1 + pick(rng, max_digits));
}

std::string plain_line(Rng &rng) {
  static const char *const seconds[] = {"4294967", "4294966", "4294968", "99999999", "100000000"};
  std::string line =
      pick(rng, 8) == 0 ? seconds[pick(rng, std::size(seconds))] : digits(rng, 1 + pick(rng, 9));
  line +=
      " " + (pick(rng, 8) == 0 ? std::string(pick(rng, 2) ? "295" : "296") : plain_number(rng, 5));
  line += " ";
  line += static_cast<char>('a' + pick(rng, 17));
  line += " ";
  line += "PDpX"[pick(rng, 4) < 3 ? pick(rng, 2) : 2 + pick(rng, 2)];
  line += " " + plain_number(rng, 4);
  if (pick(rng, 5) != 0) {
    line += " " + plain_number(rng, 4);
  }
  return line;
}

// Anything else: fields, letters, signs, white space and junk, glued or not.
std::string free_line(Rng &rng) {
  std::string line;
  std::size_t tokens = pick(rng, 9);
  for (std::size_t i = 0; i < tokens; ++i) {
    if (pick(rng, 3) != 0) {
      line += white[pick(rng, std::size(white))];
    }
    switch (pick(rng, 6)) {
    case 0:
    case 1:
    case 2:
      line += number(rng);
      break;
    case 3:
      line += "aPpDdqAz"[pick(rng, 8)];
      break;
    case 4:
      line += "abcdefghijklmnop"[pick(rng, 16)];
      line += "PD"[pick(rng, 2)];
      break;
    default:
      line += "#x-+;.\x80\xEF\xBB\xBF\xFF"[pick(rng, 11)];
      break;
    }
  }
  return line;
}

// The text input's lines, their numbers, and why and where the input ends.
void expect_same_lines(const std::string &bytes, const std::string &what) {
  std::FILE *ours = stream_of(bytes);
  std::FILE *theirs = stream_of(bytes);
  ASSERT_TRUE(ours != nullptr && theirs != nullptr);
  text_input input;
  std::vector<std::string> lines;
  const char *line = nullptr;
  int end = 0;
  while ((end = next_line(input, ours, &line)) == 0) {
    const char *lf = std::strchr(line, '\n');
    std::string text(line, lf + 1);
    if (text.size() > 1 && text[text.size() - 2] == '\r') {
      text.erase(text.size() - 2, 1);
    }
    lines.push_back(text);
    ASSERT_EQ(input.line, lines.size()) << what;
  }
  ReferenceLines want = reference_lines(theirs);
  EXPECT_EQ(lines, want.lines) << what;
  EXPECT_EQ(end, want.end) << what;
  EXPECT_EQ(input.mark_line, want.mark_line) << what;
  if (end == -2) {
    EXPECT_EQ(input.error, want.fault) << what;
    EXPECT_EQ(input.error_column, want.column) << what;
    EXPECT_EQ(input.line, lines.size() + 1) << what;
  }
  std::fclose(ours);
  std::fclose(theirs);
}

void collect_accepted(const check_record &r, void *events) {
  if (r.kind == check_kind::accepted) {
    static_cast<std::vector<timed_event> *>(events)->push_back(r.event);
  }
}

// qevcheck's pass must accept exactly the events that the reader returns, in
// order, and stop where it stops.
void expect_same_check(const std::string &bytes, const std::vector<Event> &events, int end,
                       const std::string &what) {
  std::FILE *f = stream_of(bytes);
  ASSERT_TRUE(f != nullptr);
  std::vector<timed_event> accepted;
  int rc = check_stream(f, default_drums, collect_accepted, &accepted);
  std::fclose(f);
  std::vector<Event> as_deltas;
  std::uint32_t now = 0;
  for (const timed_event &e : accepted) {
    as_deltas.push_back({e.time - now, e.status, e.note, e.velocity});
    now = e.time;
  }
  EXPECT_EQ(as_deltas, events) << what;
  EXPECT_EQ(rc == -2, end == -2) << what;
}

// The whole file the writer makes of these events, as its own tests hold it.
std::string file_of(const std::vector<Event> &events) {
  std::FILE *f = std::tmpfile();
  convert_restart();
  write_header(f);
  for (const Event &e : events) {
    write_cmd(f, e[0], static_cast<std::uint8_t>(e[1]), static_cast<std::uint8_t>(e[2]),
              static_cast<std::uint8_t>(e[3]));
  }
  write_eot(f);
  fix_header(f);
  return contents_of(f);
}

// Where the reader is fed one stream, compare it with the reference: the
// events as qev2mid reads them and the checking pass's; for a whole file,
// also the file the run loop writes, which must be the writer's own for
// those events.
void expect_same_reading(const std::string &bytes, const std::string &what,
                         bool whole_file = true) {
  expect_same_lines(bytes, what);
  std::FILE *theirs = stream_of(bytes);
  ASSERT_TRUE(theirs != nullptr);
  Reading ours = read_events(bytes);
  int want_end = 0;
  std::vector<Event> want = reference_read(theirs, &want_end);
  std::fclose(theirs);
  EXPECT_EQ(ours.events, want) << what;
  EXPECT_EQ(ours.end, want_end) << what;
  expect_same_check(bytes, ours.events, ours.end, what);
  if (!whole_file) {
    return;
  }
  Conversion c = convert_text(bytes);
  EXPECT_EQ(c.result, want_end == -1 ? convert_result::ok : convert_result::read_failed) << what;
  if (c.result == convert_result::ok) {
    EXPECT_EQ(c.bytes, file_of(want)) << what;
  }
}

#ifndef QEV2MID_DIFFERENTIAL_LINES
#define QEV2MID_DIFFERENTIAL_LINES 1000000
#endif

TEST(Differential, FieldScanMatchesSscanf) {
  Rng rng(20261207);
  int mismatches = 0;
  for (int i = 0; i < QEV2MID_DIFFERENTIAL_LINES && mismatches < 10; ++i) {
    std::string body = pick(rng, 2) ? plain_line(rng) : free_line(rng);
    std::string line = body + "\n";
    ReferenceScan want = reference_scan(line.c_str());
    ASSERT_TRUE(want.same_as_plain_format) << line;
    timed_event e{}, explained{};
    field_problem why{};
    bool valid = scan_line(line.c_str(), &e);
    // The explaining scan must take exactly the same lines.
    bool same = valid == want.valid && explain_line(line.c_str(), &explained, &why) == valid &&
                (!valid || (e.time == want.time && e.status == want.status && e.note == want.note &&
                            e.velocity == want.velocity && explained.time == e.time &&
                            explained.status == e.status && explained.note == e.note &&
                            explained.velocity == e.velocity));
    if (!same) {
      ++mismatches;
      ADD_FAILURE() << "scan_line differs on [" << body << "]";
    }
    // Through the reader as well, which reads the line with the field rules
    // and, behind two comments, with the plain scan.
    if (i % 4 == 0) {
      std::string ending = pick(rng, 4) == 0 ? "\r\n" : "\n";
      expect_same_reading(body + ending, body, false);
      if (HasFailure()) {
        ++mismatches;
      }
    }
  }
}

// The file offsets at which the reader's blocks begin.
const std::size_t blocks[] = {read_block_size, 2 * read_block_size};

// Filler lines, then a comment line that pads the input to size bytes.
std::string filler_to(std::size_t size, Rng &rng) {
  std::string s;
  while (s.size() + 40 < size) {
    s += plain_line(rng) + "\n";
  }
  std::size_t pad = size - s.size();
  s += std::string(pad - 1, '#') + "\n";
  return s;
}

TEST(Differential, LinesAtBlockBoundaries) {
  Rng rng(7);
  const std::string x998(998, '7'), x999(999, '7');
  // Each feature is placed so that it starts a few bytes before a block
  // boundary, and so straddles it.
  const std::string features[] = {
      "1 0 a P 60 100\r\n2 0 a D 60\r\n",
      "1 0 a P 60 100\r\r\n2 0 a D 60\n",
      "1 0 a\rP 60 100\n",
      "1 0 a P 60 100\n\x1A"
      "2 0 a P 60 100\n",
      "1 0 a P 60 100\x1A\n",
      "1 0 a P 60 100\n\r\x1A",
      std::string("1 0 a P 60 100\n1 0 a\0P 60 100\n", 30),
      std::string("\0\n", 2),
      x998 + "\n1 0 a P 60 100\n",
      x998 + "\r\n1 0 a P 60 100\n",
      x999 + "\n1 0 a P 60 100\n",
      "\r" + x998 + "\n",
      "1 0 a P 60 100",
      "1 0 a P 60 100\n   ",
      "99999 999 p D 127 127\n",
      "0000001 0500 b P 0060 0100\n",
  };
  const std::size_t offsets[] = {0, 1, 2, 3, 5, 13, 500, 997, 998, 999, 1000};
  for (std::size_t boundary : blocks) {
    for (const std::string &feature : features) {
      for (std::size_t before : offsets) {
        if (before > feature.size() + 1000) {
          continue;
        }
        std::string text = filler_to(boundary - before, rng) + feature;
        // Complete the input so that only the feature can make it fail.
        if (!feature.empty() && feature.back() == '\n') {
          text += "9 0 a D 60\n";
        }
        expect_same_reading(text, "feature at " + std::to_string(before) + " before " +
                                      std::to_string(boundary));
        if (HasFailure()) {
          return;
        }
      }
    }
  }
}

// A line as programs write it, at now and on channel, which is random when
// it is 0.
std::string event_line(Rng &rng, std::uint64_t now, char channel) {
  std::string line = std::to_string(now / 1000) + " " + std::to_string(now % 1000) + " " +
                     (channel != 0 ? channel : static_cast<char>('a' + pick(rng, 16))) + " " +
                     "PD"[pick(rng, 2)] + " " + std::to_string(pick(rng, 128));
  if (pick(rng, 4) != 0) {
    line += " " + std::to_string(pick(rng, 128));
  }
  return line;
}

TEST(Differential, RandomFiles) {
  // Files of many blocks, mostly plain lines with other kinds mixed in, and
  // now and then a byte that ends or breaks the input.
  Rng rng(11);
  for (int file = 0; file < 24; ++file) {
    std::string text;
    std::uint64_t now = 0;
    while (text.size() < 3 * read_block_size) {
      std::size_t kind = pick(rng, 100);
      if (kind < 70) {
        now += pick(rng, 3) == 0 ? 0 : pick(rng, 2000);
        text += event_line(rng, now, 0);
      } else if (kind < 95) {
        text += pick(rng, 2) ? plain_line(rng) : free_line(rng);
      } else {
        text += std::string(pick(rng, 1000), "x \r"[pick(rng, 3)]);
      }
      text += pick(rng, 5) == 0 ? "\r\n" : "\n";
    }
    if (file % 4 == 1) {
      text.insert(pick(rng, text.size()), 1, '\x1A');
    } else if (file % 4 == 2) {
      text.insert(pick(rng, text.size()), 1, '\0');
    } else if (file % 4 == 3) {
      text.resize(pick(rng, text.size()));
    }
    expect_same_reading(text, "file " + std::to_string(file));
    if (HasFailure()) {
      return;
    }
  }
}

TEST(Differential, FilesWrittenVoiceByVoice) {
  // Each channel's lines for the whole piece, then the next channel's: all
  // but the first voice's lines are dropped as earlier, except those past
  // its end, and a line now and then is of another form.
  Rng rng(13);
  for (int file = 0; file < 8; ++file) {
    std::string text;
    for (char channel = 'a'; channel < 'e'; ++channel) {
      std::uint64_t now = pick(rng, 3000);
      for (std::size_t line = 0; line < 2000; ++line) {
        now += pick(rng, 3) == 0 ? 0 : pick(rng, 400);
        text += pick(rng, 50) == 0 ? free_line(rng) : event_line(rng, now, channel);
        text += pick(rng, 5) == 0 ? "\r\n" : "\n";
      }
    }
    expect_same_reading(text, "voices " + std::to_string(file));
    if (HasFailure()) {
      return;
    }
  }
}

} // namespace
