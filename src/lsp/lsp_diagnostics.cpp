// Diagnostics and code actions: each finding as the protocol shows it, with
// the notes that explain it as related information, and the repairs' edits
// at the same places as qevcheck's JSON gives them.
#include "lsp_replies.h"

#include <algorithm>

json position_at(const lsp_document &doc, std::size_t offset, position_encoding encoding) {
  const text_lines &lines = doc.checked_lines;
  auto after = std::upper_bound(lines.starts.begin(), lines.starts.end(), offset);
  auto line = static_cast<std::size_t>(after - lines.starts.begin()) - 1;
  std::size_t start = lines.starts[line], end = std::min(offset, lines.ends[line]);
  return {{"line", line},
          {"character", character_of(doc.checked.data() + start, end - start, encoding)}};
}

json finding_range(const lsp_document &doc, std::uint64_t line, std::size_t byte_column,
                   position_encoding encoding) {
  if (line == 0) {
    return {{"start", {{"line", 0}, {"character", 0}}}, {"end", {{"line", 0}, {"character", 0}}}};
  }
  const text_lines &lines = doc.checked_lines;
  std::size_t index = std::min<std::uint64_t>(line - 1, lines.starts.size() - 1);
  std::size_t end = lines.ends[index];
  std::size_t start = std::min(lines.starts[index] + (byte_column > 0 ? byte_column - 1 : 0), end);
  return {{"start", position_at(doc, start, encoding)}, {"end", position_at(doc, end, encoding)}};
}

static json diagnostic_of(const lsp_document &doc, const std::string &uri, const lsp_finding &f,
                          position_encoding encoding) {
  json d = {{"range", finding_range(doc, f.line, f.byte_column, encoding)},
            {"severity", static_cast<int>(f.level) + 1},
            {"code", code_names[static_cast<std::size_t>(f.code)]},
            {"source", "qevcheck"},
            {"message", f.message}};
  for (const lsp_note &n : f.notes) {
    d["relatedInformation"].push_back(
        {{"location",
          {{"uri", uri}, {"range", finding_range(doc, n.line, n.byte_column, encoding)}}},
         {"message", n.message}});
  }
  return d;
}

json diagnostics_of(const lsp_document &doc, const std::string &uri, position_encoding encoding) {
  json all = json::array();
  if (std::string disk = disk_differences(doc.disk, doc.checked); !disk.empty()) {
    all.push_back({{"range", finding_range(doc, 1, 1, encoding)},
                   {"severity", 2},
                   {"code", "file-on-disk"},
                   {"source", "qevcheck"},
                   {"message", disk}});
  }
  for (const lsp_finding &f : doc.findings) {
    all.push_back(diagnostic_of(doc, uri, f, encoding));
  }
  return all;
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
