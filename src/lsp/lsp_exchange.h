// What the server's handlers share: the message being handled, and the
// ways to answer it. Internal to the server's files.
#ifndef QEV2MID_LSP_EXCHANGE_H
#define QEV2MID_LSP_EXCHANGE_H

#include "lsp_replies.h"
#include "lsp_server.h"

#include <string>
#include <vector>

// One message being handled: what it asks, and where its replies go.
struct exchange {
  lsp_server &server;
  const json &id;
  bool request;
  std::vector<std::string> &out;
};

void send(exchange &x, const json &message);
void fail(exchange &x, int code, const std::string &why);
void answer(exchange &x, const json &result);
void notify(exchange &x, const char *method, const json &params);
// The document's diagnostics, published.
void publish(exchange &x, const std::string &uri, const lsp_document &doc);

// Sets the drum channels from an editor's setting; says so where it names
// none, and returns false.
bool set_drums(exchange &x, const json &drums);

// The document notifications, and the requests about a document.
void open_document(exchange &x, const json &params);
void change_document(exchange &x, const json &params);
void close_document(exchange &x, const json &params);
void save_document(exchange &x, const json &params);
void configure(exchange &x, const json &params);
void code_action(exchange &x, const json &params);
void hover(exchange &x, const json &params);
void outline(exchange &x, const json &params);

#endif
