// The layers as the rows drive them (layers.h).
#include "layers.h"

#include "check/check_pass.h"
#include "midi/midi_writer.h"
#include "qev/event_reader.h"

#include <gtest/gtest.h>

#include <cstring>

#ifdef _WIN32
#include <process.h>
#endif

// An empty file to write and read back, gone when it is closed. Windows's
// tmpfile runs out of names after a few hundred files.
static std::FILE *scratch_file() {
#ifdef _WIN32
  static int count = 0;
  std::string name = "layers-" + std::to_string(_getpid()) + "-" + std::to_string(count++) + ".tmp";
  return std::fopen(name.c_str(), "w+bD");
#else
  return std::tmpfile();
#endif
}

std::FILE *stream_of(const std::string &bytes) {
#ifdef _WIN32
  // Windows has no fmemopen.
  std::FILE *f = scratch_file();
  if (f != nullptr) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
  }
  return f;
#else
  // fmemopen cannot open an empty buffer everywhere.
  return bytes.empty() ? std::tmpfile()
                       : fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "r");
#endif
}

// The events as next_events hands them out, as deltas.
static Reading read_batches(const std::string &text) {
  Reading batches{{}, 0};
  std::FILE *in = stream_of(text);
  EXPECT_NE(in, nullptr);
  convert_restart();
  const timed_event *events = nullptr;
  std::size_t count = 0;
  std::uint32_t last = 0;
  while ((batches.end = next_events(in, &events, &count)) == 0) {
    for (std::size_t i = 0; i < count; ++i) {
      batches.events.push_back(
          {events[i].time - last, events[i].status, events[i].note, events[i].velocity});
      last = events[i].time;
    }
    EXPECT_EQ(curtime, last) << "curtime after a batch";
  }
  std::fclose(in);
  return batches;
}

Reading read_events(const std::string &text) {
  Reading batches = read_batches(text);
  // The plain scan is tried first at the third line, once the first block
  // is read and a line has gone through the field rules: behind two
  // comments, the text's own first line meets it.
  Reading scanned = read_batches("#\n#\n" + text);
  EXPECT_EQ(scanned.events, batches.events) << "the plain scan reads other events";
  EXPECT_EQ(scanned.end, batches.end) << "the plain scan ends otherwise";

  Reading single{{}, 0};
  std::FILE *in = stream_of(text);
  convert_restart();
  std::uint32_t delta = 0;
  std::uint8_t status = 0, note = 0, velocity = 0;
  while ((single.end = parse_cmd(in, &delta, &status, &note, &velocity)) == 0) {
    single.events.push_back({delta, status, note, velocity});
  }
  std::fclose(in);
  EXPECT_EQ(single.events, batches.events) << "parse_cmd and next_events differ";
  EXPECT_EQ(single.end, batches.end) << "parse_cmd and next_events end differently";
  return batches;
}

std::string contents_of(std::FILE *f) {
  std::string bytes;
  std::fflush(f);
  std::rewind(f);
  for (int c; (c = std::getc(f)) != EOF;) {
    bytes += static_cast<char>(c);
  }
  std::fclose(f);
  return bytes;
}

Conversion convert_text(const std::string &text) {
  std::FILE *in = stream_of(text);
  std::FILE *out = scratch_file();
  EXPECT_TRUE(in != nullptr && out != nullptr);
  convert_restart();
  Conversion c{convert_events(in, out), {}};
  std::fclose(in);
  c.bytes = contents_of(out);
  return c;
}

namespace {
struct Collecting {
  std::vector<std::string> *findings;
  void (*during)(void *);
  void *arg;
  const std::string *file;
};
} // namespace

static void collect(const check_record &r, void *context) {
  const auto &to = *static_cast<const Collecting *>(context);
  if (to.during != nullptr) {
    to.during(to.arg);
  }
  // A record's text is its line, and stands in the file at its offset.
  if (r.text != nullptr) {
    std::string line(r.text, std::strcspn(r.text, "\n"));
    EXPECT_EQ(to.file->compare(r.offset, line.size(), line), 0)
        << "line " << r.line << " at byte " << r.offset << ": " << line;
  }
  if (r.kind == check_kind::accepted) {
    return;
  }
  static constexpr const char *levels[] = {"error", "warning", "note"};
  std::string s = std::to_string(r.line) + ":" + std::to_string(r.column) + " " +
                  levels[static_cast<std::size_t>(r.level)] + " " +
                  code_names[static_cast<std::size_t>(r.code)];
  if (r.related != 0) {
    s += " ->" + std::to_string(r.related);
  }
  if (r.count != 0) {
    s += " +" + std::to_string(r.count);
  }
  to.findings->push_back(s);
}

Checked check_text(const std::string &text, void (*during)(void *), void *arg) {
  Checked c{{}, 0};
  std::FILE *in = stream_of(text);
  EXPECT_NE(in, nullptr);
  Collecting to{&c.findings, during, arg, &text};
  c.end = check_stream(in, default_drums, collect, &to);
  std::fclose(in);
  // The same file from memory gives the same findings.
  std::vector<std::string> from_memory;
  Collecting again{&from_memory, nullptr, nullptr, &text};
  EXPECT_EQ(check_bytes(text.data(), text.size(), default_drums, collect, &again), c.end);
  EXPECT_EQ(from_memory, c.findings);
  return c;
}
