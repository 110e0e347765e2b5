// What the server answers about a checked document, as the protocol's JSON:
// its diagnostics, the code actions for a range of lines, the hover of a
// line and its outline by channel. Lines here count from 0, as the
// protocol's do; the checking pass's count from 1.
#ifndef QEV2MID_LSP_REPLIES_H
#define QEV2MID_LSP_REPLIES_H

#include "lsp_document.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

using json = nlohmann::json;

// The position of a byte offset of the checked text.
json position_at(const lsp_document &doc, std::size_t offset, position_encoding encoding);
// A finding's range: from its column (from 1) to its line's end; line 0,
// where no line is at fault, is the start of the text.
json finding_range(const lsp_document &doc, std::uint64_t line, std::size_t byte_column,
                   position_encoding encoding);

// The warning about the file on disk, and one diagnostic per finding, as
// the JSON text of an array.
std::string diagnostics_text(const lsp_document &doc, const std::string &uri,
                             position_encoding encoding);

// The quick fixes of the findings on lines first to last, and the action
// that applies every safe fix, as asked for.
struct action_request {
  std::uint64_t first, last;
  bool quick_fixes, fix_all;
};
json code_actions(const lsp_document &doc, const std::string &uri, const action_request &asked,
                  std::uint16_t drums, position_encoding encoding);

// What qev2mid makes of a line; null for a line that is no event.
json hover_of(const lsp_document &doc, std::uint64_t line, std::uint16_t drums,
              position_encoding encoding);

// A symbol per channel with accepted events: its notes, range and times.
json outline_of(const lsp_document &doc, position_encoding encoding);

#endif
