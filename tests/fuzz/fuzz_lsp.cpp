// Feeds the language server's dispatcher random sequences of messages: raw
// bodies that may not be JSON at all, and the protocol's own messages with
// random document texts, changes, positions and settings. Every reply must
// be a JSON object, each request must get one answer with its id, and each
// position published must stand in the document as the editor holds it.
#include "lsp/lsp_server.h"
#include "lsp/lsp_text.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using json = nlohmann::json;

static void require(bool ok) {
  if (!ok) {
    std::abort();
  }
}

namespace {

// The input, read as a sequence of operations.
struct cursor {
  const std::uint8_t *p, *end;
};

} // namespace

static std::uint32_t take(cursor &c, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes && c.p < c.end; ++i) {
    v = v << 8 | *c.p++;
  }
  return v;
}

static std::string take_text(cursor &c) {
  std::size_t n = take(c, 2) % 512;
  n = n < static_cast<std::size_t>(c.end - c.p) ? n : static_cast<std::size_t>(c.end - c.p);
  std::string s(reinterpret_cast<const char *>(c.p), n);
  c.p += n;
  return s;
}

static json position(cursor &c) {
  return {{"line", take(c, 1) % 40}, {"character", take(c, 1) % 40}};
}

static std::string dump(const json &j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The replies to one message, with the text of the document as it now stands.
static void check_replies(const std::vector<std::string> &out, int id, const std::string &text) {
  int answers = 0;
  std::size_t lines = split_lines(text).starts.size();
  for (const std::string &body : out) {
    json m = json::parse(body, nullptr, false);
    require(m.is_object());
    if (m.contains("id") && !m.contains("method")) {
      answers += m["id"] == id ? 1 : 0;
    }
    if (m.value("method", "") == "textDocument/publishDiagnostics" &&
        m["params"]["uri"] == "untitled:fuzz") {
      for (const json &d : m["params"]["diagnostics"]) {
        require(d["range"]["end"]["line"].get<std::size_t>() < lines);
      }
    }
  }
  require(id < 0 || answers == 1);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  lsp_server server;
  std::vector<std::string> out;
  handle_message(server,
                 dump({{"jsonrpc", "2.0"},
                       {"id", 0},
                       {"method", "initialize"},
                       {"params", {{"capabilities", json::object()}}}}),
                 out);
  json doc = {{"uri", "untitled:fuzz"}};
  cursor c{data, data + size};
  for (int id = 1; c.p < c.end && !server.exited; ++id) {
    std::uint32_t op = take(c, 1) % 8;
    json m = {{"jsonrpc", "2.0"}, {"id", id}};
    if (op == 0) {
      out.clear();
      handle_message(server, take_text(c), out);
      continue;
    }
    if (op == 1) {
      m = {{"jsonrpc", "2.0"},
           {"method", "textDocument/didOpen"},
           {"params",
            {{"textDocument",
              {{"uri", "untitled:fuzz"}, {"version", id}, {"text", take_text(c)}}}}}};
    } else if (op == 2) {
      json change = {{"range", {{"start", position(c)}, {"end", position(c)}}},
                     {"text", take_text(c)}};
      m = {{"jsonrpc", "2.0"},
           {"method", "textDocument/didChange"},
           {"params", {{"textDocument", doc}, {"contentChanges", {change}}}}};
    } else if (op == 3) {
      m["method"] = "textDocument/hover";
      m["params"] = {{"textDocument", doc}, {"position", position(c)}};
    } else if (op == 4) {
      m["method"] = "textDocument/codeAction";
      m["params"] = {{"textDocument", doc},
                     {"range", {{"start", position(c)}, {"end", position(c)}}},
                     {"context", {{"diagnostics", json::array()}}}};
    } else if (op == 5) {
      m["method"] = "textDocument/documentSymbol";
      m["params"] = {{"textDocument", doc}};
    } else if (op == 6) {
      m = {{"jsonrpc", "2.0"},
           {"method", "workspace/didChangeConfiguration"},
           {"params", {{"settings", {{"qevcheck", {{"drums", take_text(c)}}}}}}}};
    } else {
      m = {{"jsonrpc", "2.0"},
           {"method", "textDocument/didClose"},
           {"params", {{"textDocument", doc}}}};
    }
    out.clear();
    handle_message(server, dump(m), out);
    auto open = server.documents.find("untitled:fuzz");
    check_replies(out, m.contains("id") ? id : -1,
                  open != server.documents.end() ? open->second.text : std::string());
  }
  return 0;
}
