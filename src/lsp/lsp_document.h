// One document an editor has open: its text as the editor holds it, and what
// the checking pass and the repairs found in it, which the diagnostics, the
// quick fixes, the hovers and the outline are made from. The server owns
// one per open document and drops it when the editor closes it.
#ifndef QEV2MID_LSP_DOCUMENT_H
#define QEV2MID_LSP_DOCUMENT_H

#include "check/check_pass.h"
#include "check/check_summary.h"
#include "check/repair.h"
#include "lsp_disk.h"
#include "lsp_text.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A note that explains a finding, on its own line.
struct lsp_note {
  std::uint64_t line;
  std::size_t byte_column;
  std::string message;
};

// A finding, with the notes that explain it; finding counts the check's
// records that are not accepted events, as the repairs number their fixes.
// A note that explains no finding stands alone, as information.
struct lsp_finding {
  std::uint64_t line;
  std::size_t byte_column;
  severity level;
  finding_code code;
  std::size_t finding;
  std::string message;
  std::vector<lsp_note> notes;
};

// The lines of a channel's first and last accepted events, from 1.
struct channel_lines {
  std::uint64_t first, last;
};

struct lsp_document {
  std::string text;
  text_lines lines;
  std::int64_t version = 0;
  // The lines joined with LF, as checked, and where they stand in it.
  std::string checked;
  text_lines checked_lines;
  std::vector<lsp_finding> findings;
  std::vector<found_fix> fixes;
  check_tally tally{};
  std::array<channel_lines, 16> channels{};
  // What the saved file holds, read when the document opens and when it is
  // saved; none where there is no file.
  disk_facts disk{};
};

// Takes text as the document's whole text, or replaces its bytes [start,
// end) with other text; a change may come in several, checked once.
void set_text(lsp_document &doc, std::string text);
void change_text(lsp_document &doc, std::size_t start, std::size_t end, const std::string &with);

// Checks the text as it stands, with drums as the drum channels.
void check_document(lsp_document &doc, std::uint16_t drums);

#endif
