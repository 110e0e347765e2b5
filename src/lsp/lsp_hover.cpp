// Hovers and the outline: what qev2mid makes of one line, in the words of
// the findings, and each channel's notes, range and times, in the words of
// qevcheck's summary.
#include "lsp_replies.h"

#include "check/finding_text.h"
#include "check/text_out.h"
#include "qev/characters.h"

#include <cstdio>
#include <cstring>

namespace {

// The records of one line, gathered by a pass of its own: a hover is rare
// beside a change, and the records of every line would be many.
struct line_records {
  std::uint64_t line;
  std::string words;
};

} // namespace

static void add_line(std::string &words, const std::string &line) {
  words += words.empty() ? "" : "\n";
  words += line;
}

static std::string event_words(const timed_event &e) {
  char name[8], text[160], *at = text;
  note_name(e.note, name);
  bool on = (e.status & 0xF0) == 0x90;
  at = put(at, on && e.velocity == 0 ? "note on with velocity 0, which ends the note"
               : on                  ? "note on"
                                     : "note off");
  std::snprintf(at, sizeof text - static_cast<std::size_t>(at - text),
                ", channel %c (%u), note %u (%s), velocity %u, at ", 'a' + (e.status & 0x0F),
                (e.status & 0x0Fu) + 1, e.note, name, e.velocity);
  at += std::strlen(at);
  *put_seconds(at, e.time) = '\0';
  return text;
}

static void gather_line(const check_record &r, void *context) {
  auto &g = *static_cast<line_records *>(context);
  if (r.line != g.line) {
    return;
  }
  if (r.kind == check_kind::accepted) {
    add_line(g.words, event_words(r.event));
    return;
  }
  char message[max_message];
  finding_message(r, message);
  // A stop's words do not always say that nothing converts.
  add_line(g.words, (r.level == severity::error ? std::string("qev2mid stops here: ")
                                                : std::string(severity_name(r.level)) + ": ") +
                        message);
}

json hover_of(const lsp_document &doc, std::uint64_t line, std::uint16_t drums,
              position_encoding encoding) {
  if (line >= doc.checked_lines.starts.size()) {
    return nullptr;
  }
  line_records g{line + 1, {}};
  check_bytes(doc.checked.data(), doc.checked.size(), drums, gather_line, &g);
  if (g.words.empty()) {
    return nullptr;
  }
  return {{"contents", {{"kind", "plaintext"}, {"value", g.words}}},
          {"range", finding_range(doc, line + 1, 1, encoding)}};
}

json outline_of(const lsp_document &doc, position_encoding encoding) {
  json symbols = json::array();
  for (std::size_t chan = 0; chan < 16; ++chan) {
    const channel_lines &lines = doc.channels[chan];
    if (doc.tally.channel[chan].events == 0 || lines.first == 0) {
      continue;
    }
    json first = finding_range(doc, lines.first, 1, encoding);
    json last = finding_range(doc, lines.last, 1, encoding);
    symbols.push_back({{"name", std::string("channel ") + static_cast<char>('a' + chan)},
                       {"detail", channel_words(doc.tally.channel[chan])},
                       {"kind", 3},
                       {"range", {{"start", first["start"]}, {"end", last["end"]}}},
                       {"selectionRange", first}});
  }
  return symbols;
}
