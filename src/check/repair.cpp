// Rounds of fixes over a file's bytes. Line fixes come from the lines
// themselves (line_fixes.cpp); the fixes here need the whole file: its line
// ends, its encoding, and the time of its last event.
#include "repair.h"

#include <algorithm>
#include <cstring>

namespace {

// What a check has shown so far, for the fixes that need more than a line.
struct gathering {
  const std::string *data;
  std::vector<found_fix> fixes;
  // The fixes that make an event, till the next accepted event after their
  // line is known: theirs must not come later.
  std::vector<std::size_t> waiting;
  std::size_t findings = 0;
  std::uint32_t last_time = 0;
  bool interleaved = false;
  // Whoever else wants the check's records, as they come.
  check_report also = nullptr;
  void *also_context = nullptr;
};

} // namespace

// The line end the file uses: CR LF where any line has one.
static std::string line_end_of(const std::string &data) {
  return data.find("\r\n") != std::string::npos ? "\r\n" : "\n";
}

static void put_utf8(std::string &out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | cp >> 6);
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | cp >> 12);
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | cp >> 18);
    out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// UTF-16 text as UTF-8, without its byte-order mark. The byte order comes
// from the mark, or else from where the NUL beside the first character
// stands; a lone surrogate becomes U+FFFD.
static std::string utf8_of_utf16(const std::string &data) {
  auto byte = [&](std::size_t i) { return char32_t{static_cast<unsigned char>(data[i])}; };
  bool big = data.size() >= 2 && (byte(0) == 0xFE ? byte(1) == 0xFF : byte(0) == 0);
  auto unit = [&](std::size_t i) -> char32_t {
    return big ? byte(i) << 8 | byte(i + 1) : byte(i + 1) << 8 | byte(i);
  };
  std::string out;
  std::size_t i = data.size() >= 2 && (unit(0) == 0xFEFF) ? 2 : 0;
  for (; i + 1 < data.size(); i += 2) {
    char32_t cp = unit(i);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < data.size() && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;
    }
    put_utf8(out, cp);
  }
  return out;
}

// The fixes that need the whole file: the encoding, the line ends, and a
// note off for a note still sounding at the end.
static bool file_fix(const check_record &r, const gathering &g, check_fix *fix) {
  const std::string &data = *g.data;
  std::size_t size = data.size();
  switch (r.kind) {
  case check_kind::utf_16:
    fix->title = "Save the text as UTF-8";
    fix->edits = {{0, size, utf8_of_utf16(data)}};
    return true;
  case check_kind::cr_line_ends:
    fix->title = "End the lines with line feeds";
    for (std::size_t i = 0; i < data.size(); ++i) {
      if (data[i] == '\r' && (i + 1 == data.size() || data[i + 1] != '\n')) {
        fix->edits.push_back({i, i + 1, "\n"});
      }
    }
    return true;
  case check_kind::cannot_convert:
    if (r.code != finding_code::no_final_line_feed) {
      return false;
    }
    fix->title = "End the last line with a line feed";
    // A last line that ends in a CR lost only the line feed of its CR LF.
    fix->edits = {{size, size, data.back() == '\r' ? "\n" : line_end_of(data)}};
    return true;
  case check_kind::still_sounding: {
    fix->title = "End the note at the last event";
    fix->safety = fix_safety::unsafe;
    fix->change = "adds a note off, so that the note stops at the last event";
    fix->stage = fix_stage_notes;
    std::string line = std::to_string(g.last_time / 1000) + " " +
                       std::to_string(g.last_time % 1000) + " " +
                       static_cast<char>('a' + (r.event.status & 0x0F)) + " D " +
                       std::to_string(r.event.note) + line_end_of(data);
    fix->edits = {{size, size, line}};
    return true;
  }
  default:
    return false;
  }
}

// Every event line where its time belongs, for lines written voice after
// voice: a stable sort by time, so that lines of one time keep their order,
// each line that is no event kept before the line it stood before, and
// those after the last event kept last. Not past a 0x1A or a NUL, which
// end what the converter reads.
static bool interleave(const std::string &data, check_fix *fix) {
  if (data.find_first_of(std::string("\x1A\0", 2)) != std::string::npos) {
    return false;
  }
  struct unit {
    std::uint32_t time;
    std::size_t start, end;
  };
  std::vector<unit> units;
  std::size_t start = 0;
  for (std::size_t at = 0; at < data.size();) {
    std::size_t lf = data.find('\n', at), end = lf == std::string::npos ? data.size() : lf + 1;
    timed_event e{};
    field_problem why{};
    if (explain_line((data.substr(at, end - at) + '\n').c_str(), &e, &why)) {
      units.push_back({e.time, start, end});
      start = end;
    }
    at = end;
  }
  std::stable_sort(units.begin(), units.end(),
                   [](const unit &a, const unit &b) { return a.time < b.time; });
  std::string sorted;
  for (const unit &u : units) {
    sorted.append(data, u.start, u.end - u.start);
  }
  sorted.append(data, start);
  if (sorted == data) {
    return false;
  }
  fix->title = "Interleave the lines by time";
  fix->safety = fix_safety::unsafe;
  fix->change = "moves lines, so that the lines skipped as out of order play";
  fix->stage = fix_stage_order;
  fix->edits = {edit_between(0, data, sorted)};
  return true;
}

// An accepted event: a fix before it that makes an event later than this
// one would make it drop, and is not safe.
static void settle(gathering &g, const check_record &accepted) {
  std::size_t kept = 0;
  for (std::size_t index : g.waiting) {
    check_fix &fix = g.fixes[index].fix;
    if (g.fixes[index].line >= accepted.line) {
      g.waiting[kept++] = index;
    } else if (fix.time > accepted.event.time) {
      fix.safety = fix_safety::unsafe;
      fix.change = "the event would come after the next one, which would then be skipped";
    }
  }
  g.waiting.resize(kept);
}

static void gather(const check_record &r, void *context) {
  auto &g = *static_cast<gathering *>(context);
  if (g.also != nullptr) {
    g.also(r, g.also_context);
  }
  if (r.kind == check_kind::accepted) {
    if (!g.waiting.empty()) {
      settle(g, r);
    }
    g.last_time = r.event.time;
    return;
  }
  std::size_t finding = g.findings++;
  check_fix fix;
  // The whole file is put in order once, at its first out-of-order line.
  bool first_earlier = r.kind == check_kind::earlier && !g.interleaved;
  g.interleaved = g.interleaved || first_earlier;
  if (line_fix(r, &fix) || file_fix(r, g, &fix) || (first_earlier && interleave(*g.data, &fix))) {
    if (fix.makes_event) {
      g.waiting.push_back(g.fixes.size());
    }
    g.fixes.push_back({finding, r.line, std::move(fix)});
  }
}

std::vector<found_fix> find_fixes(const std::string &data, std::uint16_t drums, check_report also,
                                  void *context, int *result) {
  gathering g{&data, {}, {}, 0, 0, false, also, context};
  int rc = check_bytes(data.data(), data.size(), drums, gather, &g);
  if (result != nullptr) {
    *result = rc;
  }
  return std::move(g.fixes);
}

const check_fix *next_fix(const std::vector<found_fix> &fixes, std::size_t finding,
                          std::size_t *from) {
  while (*from < fixes.size() && fixes[*from].finding < finding) {
    ++*from;
  }
  return *from < fixes.size() && fixes[*from].finding == finding ? &fixes[*from].fix : nullptr;
}

std::string apply_fixes(const std::string &data, const std::vector<found_fix> &fixes, bool unsafe) {
  auto chosen = [unsafe](const check_fix &f) { return f.safety == fix_safety::safe || unsafe; };
  std::uint8_t stage = fix_stage_notes;
  for (const found_fix &f : fixes) {
    stage = chosen(f.fix) ? std::min(stage, f.fix.stage) : stage;
  }
  std::vector<const fix_edit *> edits;
  for (const found_fix &f : fixes) {
    if (chosen(f.fix) && f.fix.stage == stage) {
      for (const fix_edit &e : f.fix.edits) {
        edits.push_back(&e);
      }
    }
  }
  std::stable_sort(edits.begin(), edits.end(),
                   [](const fix_edit *a, const fix_edit *b) { return a->start < b->start; });
  std::string out;
  std::size_t at = 0;
  for (const fix_edit *e : edits) {
    if (e->start < at || e->end > data.size()) {
      continue;
    }
    out.append(data, at, e->start - at);
    out += e->text;
    at = e->end;
  }
  out.append(data, at);
  return out;
}

std::string repair(const std::string &data, std::uint16_t drums, bool unsafe) {
  std::string now = data;
  // Each round mends at least one finding, and a line's next problem shows
  // only once the one before it is mended; the bound is for safety alone.
  for (int round = 0; round < 64; ++round) {
    std::string next = apply_fixes(now, find_fixes(now, drums), unsafe);
    if (next == now) {
      break;
    }
    now = std::move(next);
  }
  return now;
}
