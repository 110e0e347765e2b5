// The language server's state and its handling of one message: requests
// answered, notifications acted on, the protocol's errors for the rest.
// The caller owns the state and passes it to each call; the session reads
// and writes the messages (lsp_session.h).
#ifndef QEV2MID_LSP_SERVER_H
#define QEV2MID_LSP_SERVER_H

#include "check/check_pass.h"
#include "lsp_document.h"
#include "lsp_text.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct lsp_server {
  bool initialized = false, shut_down = false, exited = false;
  position_encoding encoding = position_encoding::utf16;
  std::uint16_t drums = default_drums;
  // The open documents by URI; closing one frees it.
  std::map<std::string, lsp_document> documents;
};

// Handles the body of one message, appending the bodies of the messages it
// calls for to out: its response, if it is a request, and diagnostics.
void handle_message(lsp_server &server, const std::string &body, std::vector<std::string> &out);

#endif
