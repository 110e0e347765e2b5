// Counting and summing up. The summary counts the lines meant as events, as
// the checking pass tells them, so that "45 of 57" is what a musician wrote
// against what will sound.
#include "check_summary.h"

#include "qev/characters.h"

#include <cstdio>

static void count_event(check_tally &tally, const timed_event &e) {
  channel_tally &c = tally.channel[e.status & 0x0F];
  if (c.events++ == 0) {
    c.first = e.time;
    c.low = 127;
  }
  c.last = e.time;
  if ((e.status & 0xF0) == 0x90 && e.velocity != 0) {
    ++c.notes;
    c.low = e.note < c.low ? e.note : c.low;
    c.high = e.note > c.high ? e.note : c.high;
  }
}

void tally_record(check_tally &tally, const check_record &r) {
  bool meant = r.kind == check_kind::accepted || r.kind == check_kind::skipped ||
               r.kind == check_kind::earlier || r.kind == check_kind::hidden_by_bom;
  tally.meant += meant ? 1 : 0;
  if (r.kind == check_kind::accepted) {
    ++tally.accepted;
    count_event(tally, r.event);
  } else {
    ++tally.by_level[static_cast<std::size_t>(r.level)];
  }
}

static const char *plural(std::uint64_t n, const char *one, const char *more) {
  return n == 1 ? one : more;
}

std::string summary_text(const char *name, const check_tally &tally, bool converts, bool channels) {
  const std::uint64_t *n = tally.by_level;
  std::string line = name;
  char text[160];
  std::snprintf(text, sizeof text, ": %llu %s, %llu %s", static_cast<unsigned long long>(n[0]),
                plural(n[0], "error", "errors"), static_cast<unsigned long long>(n[1]),
                plural(n[1], "warning", "warnings"));
  line += text;
  if (n[2] != 0) {
    std::snprintf(text, sizeof text, ", %llu %s", static_cast<unsigned long long>(n[2]),
                  plural(n[2], "note", "notes"));
    line += text;
  }
  if (converts) {
    std::snprintf(text, sizeof text, "; %llu of %llu %s convert\n",
                  static_cast<unsigned long long>(tally.accepted),
                  static_cast<unsigned long long>(tally.meant),
                  plural(tally.meant, "event", "events"));
  } else {
    std::snprintf(text, sizeof text, "; qev2mid cannot convert it\n");
  }
  line += text;
  for (std::size_t chan = 0; channels && chan < 16; ++chan) {
    if (tally.channel[chan].events != 0) {
      std::snprintf(text, sizeof text, ": channel %c: ", static_cast<char>('a' + chan));
      line += name;
      line += text;
      line += channel_words(tally.channel[chan]);
      line += '\n';
    }
  }
  return line;
}

std::string channel_words(const channel_tally &c) {
  char text[96], low[8], high[8];
  note_name(c.low, low);
  note_name(c.high, high);
  std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(c.notes),
                plural(c.notes, "note", "notes"));
  std::string words = text;
  if (c.notes != 0) {
    words += c.low == c.high ? ", " : " from ";
    words += low;
    if (c.low != c.high) {
      words += " to ";
      words += high;
    }
  }
  std::snprintf(text, sizeof text, ", %u.%03u s to %u.%03u s", c.first / 1000, c.first % 1000,
                c.last / 1000, c.last % 1000);
  return words + text;
}
