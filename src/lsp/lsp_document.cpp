// Checking a document: the repairs' single pass gives its fixes, and every
// record on the way, from which the findings, their notes, the tally and
// each channel's lines are gathered.
#include "lsp_document.h"

#include "check/finding_text.h"

namespace {

struct gathered {
  lsp_document *doc;
  std::size_t records = 0;
};

} // namespace

// The finding a note explains: a run's note follows the run, and belongs to
// its first line's; the others come right after their finding.
static lsp_finding *explained(lsp_document &doc, const check_record &r) {
  if (r.kind == check_kind::run_of_earlier) {
    for (auto f = doc.findings.rbegin(); f != doc.findings.rend(); ++f) {
      if (f->line == r.line && f->code == finding_code::out_of_order) {
        return &*f;
      }
    }
    return nullptr;
  }
  bool follows = r.kind == check_kind::skipped_note_on || r.kind == check_kind::began_here ||
                 r.kind == check_kind::sounding_elsewhere;
  return follows && !doc.findings.empty() ? &doc.findings.back() : nullptr;
}

static void gather(const check_record &r, void *context) {
  auto &g = *static_cast<gathered *>(context);
  lsp_document &doc = *g.doc;
  tally_record(doc.tally, r);
  if (r.kind == check_kind::accepted) {
    channel_lines &c = doc.channels[r.event.status & 0x0F];
    c.first = c.first == 0 ? r.line : c.first;
    c.last = r.line;
    return;
  }
  std::size_t finding = g.records++;
  char message[max_message];
  finding_message(r, message);
  lsp_finding *to = r.level == severity::note ? explained(doc, r) : nullptr;
  if (to != nullptr) {
    to->notes.push_back({r.line, r.byte_column, message});
  } else {
    doc.findings.push_back({r.line, r.byte_column, r.level, r.code, finding, message, {}});
  }
}

void check_document(lsp_document &doc, std::uint16_t drums) {
  doc.checked = joined_with_lf(doc.text);
  doc.checked_lines = split_lines(doc.checked);
  doc.findings.clear();
  doc.tally = check_tally{};
  doc.channels = {};
  gathered g{&doc};
  doc.fixes = find_fixes(doc.checked, drums, gather, &g);
}

void set_text(lsp_document &doc, std::string text) {
  doc.text = std::move(text);
  doc.lines = split_lines(doc.text);
}

void change_text(lsp_document &doc, std::size_t start, std::size_t end, const std::string &with) {
  doc.text.replace(start, end - start, with);
  doc.lines = split_lines(doc.text);
}
