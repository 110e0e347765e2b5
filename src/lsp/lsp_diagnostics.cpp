// Diagnostics and code actions: each finding as the protocol shows it, with
// the notes that explain it as related information, and the repairs' edits
// at the same places as qevcheck's JSON gives them.
#include "lsp_replies.h"

#include <algorithm>
#include <charconv>

namespace {

// A place in the checked text as the protocol counts it.
struct place {
  std::size_t line;
  std::uint64_t character;
};

} // namespace

static place place_at(const lsp_document &doc, std::size_t offset, position_encoding encoding) {
  const text_lines &lines = doc.checked_lines;
  auto after = std::upper_bound(lines.starts.begin(), lines.starts.end(), offset);
  auto line = static_cast<std::size_t>(after - lines.starts.begin()) - 1;
  std::size_t start = lines.starts[line], end = std::min(offset, lines.ends[line]);
  return {line, character_of(doc.checked.data() + start, end - start, encoding)};
}

// The offsets a finding's range runs between: from its column (from 1) to
// its line's end; line 0, where no line is at fault, is the text's start.
static std::pair<std::size_t, std::size_t>
finding_offsets(const lsp_document &doc, std::uint64_t line, std::size_t byte_column) {
  if (line == 0) {
    return {0, 0};
  }
  const text_lines &lines = doc.checked_lines;
  std::size_t index = std::min<std::uint64_t>(line - 1, lines.starts.size() - 1);
  std::size_t end = lines.ends[index];
  return {std::min(lines.starts[index] + (byte_column > 0 ? byte_column - 1 : 0), end), end};
}

json position_at(const lsp_document &doc, std::size_t offset, position_encoding encoding) {
  place p = place_at(doc, offset, encoding);
  return {{"line", p.line}, {"character", p.character}};
}

json finding_range(const lsp_document &doc, std::uint64_t line, std::size_t byte_column,
                   position_encoding encoding) {
  auto [start, end] = finding_offsets(doc, line, byte_column);
  return {{"start", position_at(doc, start, encoding)}, {"end", position_at(doc, end, encoding)}};
}

// Diagnostics are written as JSON text: a large file's are many, and an
// object per field, built and then dumped, cost many times the check.
static void append_quoted(std::string &out, const std::string &text) {
  out += json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

static void append_number(std::string &out, std::uint64_t v) {
  char digits[20];
  out.append(digits, static_cast<std::size_t>(std::to_chars(digits, digits + 20, v).ptr - digits));
}

static void append_range(std::string &out, const lsp_document &doc, std::uint64_t line,
                         std::size_t byte_column, position_encoding encoding) {
  auto [start, end] = finding_offsets(doc, line, byte_column);
  place from = place_at(doc, start, encoding), to = place_at(doc, end, encoding);
  out += R"({"start":{"line":)";
  append_number(out, from.line);
  out += R"(,"character":)";
  append_number(out, from.character);
  out += R"(},"end":{"line":)";
  append_number(out, to.line);
  out += R"(,"character":)";
  append_number(out, to.character);
  out += "}}";
}

// One diagnostic, with its code; quoted_uri is the document's URI as a JSON
// string.
static void append_diagnostic(std::string &out, const lsp_document &doc,
                              const std::string &quoted_uri, const char *code, const lsp_finding &f,
                              position_encoding encoding) {
  out += "{\"range\":";
  append_range(out, doc, f.line, f.byte_column, encoding);
  out += R"(,"severity":)";
  append_number(out, static_cast<std::uint64_t>(f.level) + 1);
  out += R"(,"code":")";
  out += code;
  out += R"(","source":"qevcheck","message":)";
  append_quoted(out, f.message);
  for (const lsp_note &n : f.notes) {
    out += &n == f.notes.data() ? ",\"relatedInformation\":[" : ",";
    out += R"({"location":{"uri":)";
    out += quoted_uri;
    out += R"(,"range":)";
    append_range(out, doc, n.line, n.byte_column, encoding);
    out += "},\"message\":";
    append_quoted(out, n.message);
    out += '}';
  }
  out += f.notes.empty() ? "}" : "]}";
}

std::string diagnostics_text(const lsp_document &doc, const std::string &uri,
                             position_encoding encoding) {
  std::string out = "[", quoted_uri;
  // Some 200 bytes a diagnostic, without its notes.
  out.reserve(256 + doc.findings.size() * 224);
  append_quoted(quoted_uri, uri);
  std::string disk = disk_differences(doc.disk, doc.checked);
  if (!disk.empty()) {
    // The warning's code is the server's own, not the check's.
    lsp_finding warning{1, 1, severity::warning, finding_code::none, 0, disk, {}};
    append_diagnostic(out, doc, quoted_uri, "file-on-disk", warning, encoding);
  }
  for (const lsp_finding &f : doc.findings) {
    out += out.size() > 1 ? "," : "";
    append_diagnostic(out, doc, quoted_uri, code_names[static_cast<std::size_t>(f.code)], f,
                      encoding);
  }
  out += ']';
  return out;
}

static json diagnostic_of(const lsp_document &doc, const std::string &uri, const lsp_finding &f,
                          position_encoding encoding) {
  std::string text, quoted_uri;
  append_quoted(quoted_uri, uri);
  append_diagnostic(text, doc, quoted_uri, code_names[static_cast<std::size_t>(f.code)], f,
                    encoding);
  return json::parse(text);
}

static json edits_of(const lsp_document &doc, const std::vector<fix_edit> &edits,
                     position_encoding encoding) {
  json all = json::array();
  for (const fix_edit &e : edits) {
    all.push_back({{"range",
                    {{"start", position_at(doc, e.start, encoding)},
                     {"end", position_at(doc, e.end, encoding)}}},
                   {"newText", e.text}});
  }
  return all;
}

json code_actions(const lsp_document &doc, const std::string &uri, const action_request &asked,
                  std::uint16_t drums, position_encoding encoding) {
  json actions = json::array();
  for (const found_fix &f : doc.fixes) {
    if (!asked.quick_fixes || f.line == 0 || f.line - 1 < asked.first || f.line - 1 > asked.last) {
      continue;
    }
    auto of = std::lower_bound(
        doc.findings.begin(), doc.findings.end(), f.finding,
        [](const lsp_finding &finding, std::size_t index) { return finding.finding < index; });
    std::string title = f.fix.title;
    if (f.fix.change != nullptr) {
      title += std::string(" (") + f.fix.change + ")";
    }
    json action = {{"title", title},
                   {"kind", "quickfix"},
                   {"edit", {{"changes", {{uri, edits_of(doc, f.fix.edits, encoding)}}}}}};
    if (of != doc.findings.end() && of->finding == f.finding) {
      action["diagnostics"] = json::array({diagnostic_of(doc, uri, *of, encoding)});
    }
    if (f.fix.safety == fix_safety::safe) {
      action["isPreferred"] = true;
    }
    actions.push_back(std::move(action));
  }
  if (asked.fix_all) {
    std::string fixed = repair(doc.checked, drums, false);
    if (fixed != doc.checked) {
      actions.push_back(
          {{"title", "Apply every safe fix"},
           {"kind", "source.fixAll"},
           {"edit",
            {{"changes",
              {{uri, edits_of(doc, {edit_between(0, doc.checked, fixed)}, encoding)}}}}}});
    }
  }
  return actions;
}
