// The web page's way into the converter and the MIDI reader, which run over
// bytes in the module's memory exactly as the programs run them over files.
// They work on C streams, and the writer patches its header through the
// stream's descriptor, so the bytes go through files in the module's
// in-memory file system rather than memory streams.
#include "binding.h"
#include "cli/output_path.h"
#include "midi/midi_reader.h"
#include "midi/midi_writer.h"
#include "qev/convert_events.h"
#include "qev/event_reader.h"
#include "qev/qev_writer.h"

#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The bytes the last call made, for qev_output.
static std::vector<std::uint8_t> output;
static std::string error;
// What QEV dropped of the last MIDI file read, and what a salvage of it
// read past, for the page to say.
static std::string dropped;
static std::string damage;
static char *output_name = nullptr;

static constexpr const char *input_path = "/input";
static constexpr const char *output_path = "/output";

// Puts the bytes in the input file and opens it for reading.
static std::FILE *input_of(const std::uint8_t *data, std::size_t size) {
  std::FILE *f = std::fopen(input_path, "wb");
  if (f == nullptr) {
    return nullptr;
  }
  bool ok = std::fwrite(data, 1, size, f) == size;
  ok = std::fclose(f) == 0 && ok;
  return ok ? std::fopen(input_path, "rb") : nullptr;
}

// The whole of a finished output file, in output.
static bool take_output(std::FILE *out) {
  long size = -1;
  bool ok = std::fflush(out) == 0 && std::fseek(out, 0, SEEK_END) == 0 &&
            (size = std::ftell(out)) >= 0 && std::fseek(out, 0, SEEK_SET) == 0;
  output.resize(ok ? static_cast<std::size_t>(size) : 0);
  ok = ok && std::fread(output.data(), 1, output.size(), out) == output.size();
  return std::fclose(out) == 0 && ok;
}

int give_output(const std::string &bytes) {
  output.assign(bytes.begin(), bytes.end());
  return static_cast<int>(output.size());
}

extern "C" {

// Converts data as qev2mid does. Returns the size of the Standard MIDI File
// in qev_output, or -1 when qev2mid would fail.
EMSCRIPTEN_KEEPALIVE int qev_convert(const std::uint8_t *data, std::size_t size) {
  output.clear();
  std::FILE *in = input_of(data, size);
  std::FILE *out = in != nullptr ? std::fopen(output_path, "w+b") : nullptr;
  if (out == nullptr) {
    if (in != nullptr) {
      std::fclose(in);
    }
    return -1;
  }
  convert_restart();
  bool ok = convert_events(in, out) == convert_result::ok;
  std::fclose(in);
  ok = take_output(out) && ok;
  return ok ? static_cast<int>(output.size()) : -1;
}

// Reads data as a Standard MIDI File called name and writes it as mid2qev
// does, or as mid2qev --salvage does where salvage is not 0. Returns the
// size of the QEV text in qev_output, or -1 with the reason in qev_error;
// qev_damage then says what a salvage read past, or is empty.
EMSCRIPTEN_KEEPALIVE int qev_from_midi(const std::uint8_t *data, std::size_t size, const char *name,
                                       int salvage) {
  output.clear();
  damage.clear();
  midi_reading reading;
  midi_file_info info{};
  midi_fault fault{};
  if (!midi_open(reading, data, size, &info, &fault, salvage != 0)) {
    error = std::string(fault.too_late ? "cannot be written as QEV: "
                                       : "is not a Standard MIDI File: ") +
            fault.reason + " at byte " + std::to_string(fault.offset);
    return -1;
  }
  damage = damage_summary(info);
  if (!damage.empty() && midi_count_notes(reading) == 0) {
    error = "gives no note to salvage: " + damage;
    return -1;
  }
  if (!damage.empty()) {
    midi_open(reading, data, size, &info, &fault, true);
  }
  dropped = dropped_summary(info);
  std::FILE *out = std::fopen(output_path, "w+b");
  bool ok = out != nullptr && write_qev(out, reading, name, info) == 0;
  ok = out != nullptr && take_output(out) && ok;
  error = ok ? "" : "could not be converted";
  return ok ? static_cast<int>(output.size()) : -1;
}

// What the last salvage read past: its first fault and byte, and how many
// more; empty for a whole file.
EMSCRIPTEN_KEEPALIVE const char *qev_damage() {
  return damage.c_str();
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t *qev_output() {
  return output.data();
}
EMSCRIPTEN_KEEPALIVE const char *qev_error() {
  return error.c_str();
}
// What QEV could not keep of the last MIDI file read, or "".
EMSCRIPTEN_KEEPALIVE const char *qev_dropped() {
  return dropped.c_str();
}

// The name beside path with the extension ext, by the programs' own rule.
EMSCRIPTEN_KEEPALIVE const char *qev_output_name(const char *path, const char *ext) {
  std::free(output_name);
  output_name = newext(path, ext);
  return output_name != nullptr ? output_name : "";
}
}
