#include "cli/output_path.h"
#include "midi/midi_writer.h"
#include "qev/event_reader.h"

#include "layers.h"
#include "test_names.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned>;

// The header block with a zero event track length, less that length field.
const Bytes header_start = {0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x01,
                            0x00, 0x02, 0x01, 0xF4, 0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00,
                            0x00, 0x0B, 0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20, 0x00,
                            0xFF, 0x2F, 0x00, 0x4D, 0x54, 0x72, 0x6B};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &p : parts) {
    all.insert(all.end(), p.begin(), p.end());
  }
  return all;
}

Bytes contents(std::FILE *f) {
  flush_track(f);
  std::fflush(f);
  std::rewind(f);
  Bytes b;
  for (int c; (c = std::getc(f)) != EOF;) {
    b.push_back(static_cast<unsigned>(c));
  }
  return b;
}

// A file started as qev2mid starts one: the process-wide state as the
// process starts, and the header written.
std::FILE *fresh() {
  convert_restart();
  std::FILE *f = std::tmpfile();
  EXPECT_EQ(write_header(f), 0);
  return f;
}

struct VarLen {
  std::uint32_t value;
  Bytes bytes;
};

void PrintTo(const VarLen &v, std::ostream *os) {
  *os << v.value;
}

class VarLenTest : public testing::TestWithParam<VarLen> {};

TEST_P(VarLenTest, Encodes) {
  std::FILE *f = fresh();
  write_var_len(f, GetParam().value);
  Bytes got = contents(f);
  EXPECT_EQ(Bytes(got.begin() + 41, got.end()), GetParam().bytes);
  EXPECT_EQ(nbytes, GetParam().bytes.size());
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Values, VarLenTest,
                         testing::Values(VarLen{0, {0x00}}, VarLen{127, {0x7F}},
                                         VarLen{128, {0x81, 0x00}}, VarLen{1000, {0x87, 0x68}},
                                         VarLen{16383, {0xFF, 0x7F}},
                                         VarLen{16384, {0x81, 0x80, 0x00}},
                                         VarLen{0x1FFFFF, {0xFF, 0xFF, 0x7F}},
                                         VarLen{0x200000, {0x81, 0x80, 0x80, 0x00}},
                                         VarLen{0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}}));

struct Cmd {
  std::uint32_t delta;
  std::uint8_t status, note, velocity;
};

struct FileCase {
  const char *name;
  std::vector<Cmd> cmds;
  Bytes file;
};

const Bytes eot = {0x00, 0xFF, 0x2F, 0x00};
const Bytes filler = {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00};

Bytes sixteen_fillers() {
  Bytes b;
  for (int i = 0; i < 16; ++i) {
    b.insert(b.end(), filler.begin(), filler.end());
  }
  return b;
}

const FileCase file_cases[] = {
    {"no events", {}, concat({header_start, {0x00, 0x00, 0x00, 0x04}, eot})},
    {"one event",
     {{0, 0x90, 60, 100}},
     concat({header_start, {0x00, 0x00, 0x00, 0x08, 0x00, 0x90, 0x3C, 0x64}, eot})},
    {"two deltas",
     {{1000, 0x92, 60, 100}, {0, 0x82, 60, 0}},
     concat({header_start,
             {0x00, 0x00, 0x00, 0x0D, 0x87, 0x68, 0x92, 0x3C, 0x64, 0x00, 0x82, 0x3C, 0x00},
             eot})},
    {"largest plain delta",
     {{0x0FFFFFFF, 0x90, 1, 2}},
     concat(
         {header_start, {0x00, 0x00, 0x00, 0x0B, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 0x01, 0x02}, eot})},
    {"one past the largest",
     {{0x10000000, 0x90, 1, 2}},
     concat({header_start, {0x00, 0x00, 0x00, 0x0F}, filler, {0x01, 0x90, 0x01, 0x02}, eot})},
    {"gap of 268436000 ms",
     {{0, 0x90, 60, 100}, {268436000, 0x80, 60, 0}},
     concat({header_start,
             {0x00, 0x00, 0x00, 0x14, 0x00, 0x90, 0x3C, 0x64},
             filler,
             {0x84, 0x21, 0x80, 0x3C, 0x00},
             eot})},
    {"widest delta",
     {{0xFFFFFFFF, 0x9F, 127, 127}},
     concat({header_start,
             {0x00, 0x00, 0x00, 0x78},
             sixteen_fillers(),
             {0x0F, 0x9F, 0x7F, 0x7F},
             eot})},
};

void PrintTo(const FileCase &c, std::ostream *os) {
  *os << c.name;
}

class FileTest : public testing::TestWithParam<FileCase> {};

TEST_P(FileTest, WritesWholeFile) {
  std::FILE *f = fresh();
  for (const Cmd &c : GetParam().cmds) {
    ASSERT_EQ(write_cmd(f, c.delta, c.status, c.note, c.velocity), 0);
  }
  ASSERT_EQ(write_eot(f), 0);
  ASSERT_EQ(fix_header(f), 0);
  Bytes got = contents(f);
  EXPECT_EQ(got, GetParam().file);
  EXPECT_EQ(got.size(), 41 + nbytes);
  std::fclose(f);
}

INSTANTIATE_TEST_SUITE_P(Files, FileTest, testing::ValuesIn(file_cases), row_name<FileCase>);

TEST(Writer, RefusesTrackLongerThanItsLengthField) {
  // Each event is refused only when its bytes would not fit.
  const struct {
    std::uint32_t room, delta;
    int result;
  } rows[] = {
      {4, 0, 0},
      {3, 0, -1},
      {5, 128, 0},
      {4, 128, -1},
      {11, 0x10000000, 0},
      {10, 0x10000000, -1},
      {14, 0x1FFFFFFE, 0},
      {13, 0x1FFFFFFE, -1},
      {116, 0xFFFFFFFF, 0},
      {115, 0xFFFFFFFF, -1},
  };
  for (const auto &row : rows) {
    std::FILE *f = fresh();
    nbytes = 0xFFFFFFFF - row.room;
    EXPECT_EQ(write_cmd(f, row.delta, 0x90, 60, 100), row.result)
        << "room " << row.room << ", delta " << row.delta;
    std::fclose(f);
  }
  // The run loop's own room for one-byte deltas keeps the same bound.
  for (std::uint32_t room : {4u, 3u}) {
    std::FILE *f = fresh();
    nbytes = 0xFFFFFFFF - room;
    EXPECT_EQ(track_room(f, 4) != nullptr, room >= 4) << "room " << room;
    std::fclose(f);
  }
  std::FILE *f = fresh();
  nbytes = 0xFFFFFFFF - 3;
  EXPECT_EQ(write_eot(f), -1);
  std::fclose(f);
}

// The run loop as qev2mid runs it: plain lines come many at a time, and
// take the writer only for a delta of more than one byte.
TEST(Conversion, WritesEveryEventOnce) {
  const struct {
    const char *text;
    convert_result result;
    Bytes track; // with its length, without the end of track
  } rows[] = {
      {"0 0 a P 60 100\n0 127 a D 60\n0 255 a P 61 1\n0 256 a D 61\n",
       convert_result::ok,
       {0x00, 0x00, 0x00, 0x15, 0x00, 0x90, 0x3C, 0x64, 0x7F, 0x80, 0x3C,
        0x00, 0x81, 0x00, 0x90, 0x3D, 0x01, 0x01, 0x80, 0x3D, 0x00}},
      {"0 0 a P 60 100\n0 1", convert_result::read_failed, {}},
  };
  for (const auto &row : rows) {
    Conversion c = convert_text(row.text);
    EXPECT_EQ(c.result, row.result) << row.text;
    if (row.result == convert_result::ok) {
      Bytes got(c.bytes.begin(), c.bytes.end());
      for (unsigned &b : got) {
        b &= 0xFF;
      }
      EXPECT_EQ(got, concat({header_start, row.track, eot})) << row.text;
    }
  }
}

// The output's name: the extension after the last "." is replaced, unless a
// directory or drive separator follows that ".".
TEST(OutputPath, ReplacesTheExtension) {
  const char *rows[][2] = {
      {"song.qev", "song.mid"},
      {"song", "song.mid"},
      {"a.b.c", "a.b.mid"},
      {"dir.x/song", "dir.x/song.mid"},
      {"dir.x\\song", "dir.x\\song.mid"},
      {"c.x:song", "c.x:song.mid"},
  };
  for (const auto &row : rows) {
    char *out = newext(row[0], ".mid");
    EXPECT_STREQ(out, row[1]);
    std::free(out);
  }
}

TEST(Writer, PatchesEveryByteOfTheTrackLength) {
  std::FILE *f = fresh();
  nbytes = 0x01020304;
  ASSERT_EQ(fix_header(f), 0);
  Bytes got = contents(f);
  EXPECT_EQ(Bytes(got.begin() + 37, got.end()), (Bytes{0x01, 0x02, 0x03, 0x04}));
  std::fclose(f);
}

TEST(Writer, ReportsFailedWrites) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no /dev/full";
#endif
  std::FILE *f = std::fopen("/dev/full", "wb");
  ASSERT_NE(f, nullptr);
  convert_restart();
  EXPECT_EQ(write_header(f), -1);
  // Small enough to stay buffered: only the final flush fails.
  EXPECT_EQ(write_cmd(f, 0, 0x90, 60, 100), 0);
  EXPECT_EQ(write_eot(f), 0);
  EXPECT_EQ(fix_header(f), -1);
  std::fclose(f);
}

} // namespace
