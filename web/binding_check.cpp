// The web page's way into the checking pass and its fixes: findings,
// sounding notes and fixes cross to JavaScript as flat arrays that the page
// views in place, since an object per finding was too slow for large files.
// The conversions are in binding_convert.cpp.
#include "binding.h"
#include "check/check_pass.h"
#include "check/check_summary.h"
#include "check/finding_text.h"
#include "check/repair.h"
#include "cli/channel_letters.h"

#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

// Fields per finding in finding_fields: line, column, byte column, severity,
// code, related line, the offset of its message in messages, the time it
// stands at on the roll (its own where its line has one, else that of the
// accepted event before it), and its note plus 1 where it is about one, else 0.
static constexpr std::size_t fields_per_finding = 9;
// Per sounding note in notes: start and end times, the lines of its note on
// and note off (0 for none), channel << 16 | note << 8 | velocity, and flags.
static constexpr std::size_t fields_per_note = 6;
// The flags: still sounding at the end of the file; a drum's, with no note off.
static constexpr std::uint32_t note_stuck = 1, note_drum = 2;
// How long a drum's note with no note off is drawn and played.
static constexpr std::uint32_t drum_ms = 150;

// Per fix in fix_fields: its finding, 1 where it is safe, and the offsets in
// fix_texts of its title and of what it changes ("" for a safe one).
static constexpr std::size_t fields_per_fix = 4;

static std::vector<std::uint32_t> finding_fields;
// The bytes last checked, and the fixes of their findings, which apply to
// those bytes alone.
static std::string checked;
static std::vector<found_fix> fixes;
static std::vector<std::uint32_t> fix_fields;
static std::string fix_texts;
static std::vector<std::uint32_t> notes;
// The note sounding on each channel and key, as an index into notes plus 1.
static std::uint32_t sounding[16][128];
static std::uint32_t last_time;
static std::string messages;
static std::string summary;
static check_tally tally;
// The drum channels the page checks and plays with.
static std::uint16_t drums = default_drums;

static std::uint32_t clamp32(std::uint64_t v) {
  return v > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<std::uint32_t>(v);
}

static bool is_drum(unsigned chan) {
  return ((drums >> chan) & 1) != 0;
}

static void end_note(std::uint32_t &index, std::uint32_t time, std::uint32_t off_line) {
  std::uint32_t *n = &notes[(index - 1) * fields_per_note];
  n[1] = time;
  n[3] = off_line;
  index = 0;
}

// Notes as a synthesizer hears the accepted events: a note on starts a note
// (and ends one still sounding on the same key), a note off ends it.
static void pair_note(const check_record &r) {
  unsigned chan = r.event.status & 0x0Fu;
  std::uint32_t &index = sounding[chan][r.event.note];
  auto line = clamp32(r.line);
  bool on = (r.event.status & 0xF0) == 0x90 && r.event.velocity != 0;
  if (index != 0) {
    end_note(index, r.event.time, on ? 0 : line);
  }
  if (on) {
    notes.insert(notes.end(),
                 {r.event.time, r.event.time, line, 0,
                  chan << 16 | static_cast<std::uint32_t>(r.event.note) << 8 | r.event.velocity,
                  0});
    index = static_cast<std::uint32_t>(notes.size() / fields_per_note);
  }
}

// Notes with no note off: a drum's sounds a moment, any other to the end.
static void end_sounding() {
  for (unsigned chan = 0; chan < 16; ++chan) {
    for (std::uint32_t &index : sounding[chan]) {
      if (index != 0) {
        std::uint32_t *n = &notes[(index - 1) * fields_per_note];
        n[5] = is_drum(chan) ? note_drum : note_stuck;
        n[1] = is_drum(chan) ? n[0] + drum_ms : std::max(last_time, n[0]);
        index = 0;
      }
    }
  }
}

static void collect(const check_record &r, void *) {
  tally_record(tally, r);
  if (r.kind == check_kind::accepted) {
    last_time = r.event.time;
    pair_note(r);
    return;
  }
  const kind_facts &facts = check_kinds[static_cast<std::size_t>(r.kind)];
  char message[max_message];
  finding_message(r, message);
  finding_fields.insert(finding_fields.end(),
                        {clamp32(r.line), clamp32(r.column), clamp32(r.byte_column),
                         static_cast<std::uint32_t>(r.level), static_cast<std::uint32_t>(r.code),
                         clamp32(r.related), clamp32(messages.size()),
                         facts.own_time ? r.event.time : last_time,
                         facts.about_note ? r.event.note + 1u : 0u});
  messages += message;
  messages += '\0';
}

extern "C" {

// Sets the drum channels by letters, as qevcheck's --drums does. Returns
// them, bit n for channel n, or -1 when the letters name none.
EMSCRIPTEN_KEEPALIVE int qev_set_drums(const char *letters) {
  return parse_drums(letters, &drums) ? drums : -1;
}

// Puts a text in fix_texts, returning its offset there.
static std::uint32_t fix_text(const char *text) {
  auto at = clamp32(fix_texts.size());
  fix_texts += text != nullptr ? text : "";
  fix_texts += '\0';
  return at;
}

// Checks data as qevcheck checks a file called name, with the drum channels
// last set (channel j at first), and finds the fixes qevcheck's JSON gives.
// Returns the number of findings. The results stay until the next call.
EMSCRIPTEN_KEEPALIVE int qev_check(const std::uint8_t *data, std::size_t size, const char *name) {
  finding_fields.clear();
  notes.clear();
  messages.clear();
  fix_fields.clear();
  fix_texts.clear();
  tally = check_tally{};
  last_time = 0;
  std::fill(&sounding[0][0], &sounding[0][0] + 16 * 128, 0u);
  checked.assign(reinterpret_cast<const char *>(data), size);
  int rc = 0;
  fixes = find_fixes(checked, drums, collect, nullptr, &rc);
  fix_fields.reserve(fixes.size() * fields_per_fix);
  for (const found_fix &f : fixes) {
    fix_fields.insert(fix_fields.end(),
                      {clamp32(f.finding), f.fix.safety == fix_safety::safe ? 1u : 0u,
                       fix_text(f.fix.title), fix_text(f.fix.change)});
  }
  end_sounding();
  summary = summary_text(name, tally, rc == 0, true);
  return static_cast<int>(finding_fields.size() / fields_per_finding);
}

EMSCRIPTEN_KEEPALIVE const std::uint32_t *qev_finding_fields() {
  return finding_fields.data();
}
EMSCRIPTEN_KEEPALIVE const char *qev_messages() {
  return messages.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t qev_messages_size() {
  return messages.size();
}
EMSCRIPTEN_KEEPALIVE const char *qev_summary() {
  return summary.c_str();
}
EMSCRIPTEN_KEEPALIVE std::size_t qev_note_count() {
  return notes.size() / fields_per_note;
}
EMSCRIPTEN_KEEPALIVE const std::uint32_t *qev_notes() {
  return notes.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t qev_fix_count() {
  return fixes.size();
}
EMSCRIPTEN_KEEPALIVE const std::uint32_t *qev_fix_fields() {
  return fix_fields.data();
}
EMSCRIPTEN_KEEPALIVE const char *qev_fix_texts() {
  return fix_texts.data();
}
EMSCRIPTEN_KEEPALIVE std::size_t qev_fix_texts_size() {
  return fix_texts.size();
}

// The bytes last checked with fix number index applied, as qev_output.
// Returns their size, or -1 where there is no such fix.
EMSCRIPTEN_KEEPALIVE int qev_apply_fix(std::size_t index) {
  if (index >= fixes.size()) {
    return -1;
  }
  return give_output(apply_fixes(checked, {fixes[index]}, true));
}

// data as qevcheck --fix writes it, with the drum channels last set, as
// qev_output. Returns its size.
EMSCRIPTEN_KEEPALIVE int qev_repair(const std::uint8_t *data, std::size_t size) {
  return give_output(repair(std::string(reinterpret_cast<const char *>(data), size), drums, false));
}

EMSCRIPTEN_KEEPALIVE const char *qev_code_name(int code) {
  return code_names[static_cast<std::size_t>(code)];
}
EMSCRIPTEN_KEEPALIVE const char *qev_severity_name(int level) {
  return severity_name(static_cast<severity>(level));
}
}
