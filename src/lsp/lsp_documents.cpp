// The documents' side of the server: opening, changing, saving and closing
// them, each change checked and its diagnostics published, and the
// requests about one document.
#include "cli/channel_letters.h"
#include "lsp_disk.h"
#include "lsp_exchange.h"

#include <algorithm>

// Drum channels by letters, as --drums takes them; an editor's setting that
// names none is said, and the channels stay as they were.
bool set_drums(exchange &x, const json &drums) {
  std::uint16_t mask = 0;
  if (drums.is_string() && parse_drums(drums.get<std::string>().c_str(), &mask)) {
    x.server.drums = mask;
    return true;
  }
  notify(x, "window/showMessage",
         {{"type", 1},
          {"message", "qevcheck: the drums setting takes channel letters a to p, or none, not " +
                          drums.dump(-1, ' ', false, json::error_handler_t::replace)}});
  return false;
}

// Reads the saved file again, for the warning where it differs.
static void read_saved(const std::string &uri, lsp_document &doc) {
  std::string path, bytes;
  doc.disk = path_of_uri(uri, &path) && read_disk(path, &bytes) ? facts_of(bytes) : disk_facts{};
}

void open_document(exchange &x, const json &params) {
  const json &item = params.at("textDocument");
  std::string uri = item.at("uri").get<std::string>();
  std::string text = item.at("text").get<std::string>();
  auto version = item.value("version", std::int64_t{0});
  lsp_document &doc = x.server.documents[uri];
  doc.version = version;
  set_text(doc, std::move(text));
  check_document(doc, x.server.drums);
  read_saved(uri, doc);
  publish(x, uri, doc);
}

void change_document(exchange &x, const json &params) {
  std::string uri = params.at("textDocument").at("uri").get<std::string>();
  auto found = x.server.documents.find(uri);
  if (found == x.server.documents.end()) {
    return;
  }
  lsp_document &doc = found->second;
  for (const json &change : params.at("contentChanges")) {
    std::string text = change.at("text").get<std::string>();
    if (!change.contains("range")) {
      set_text(doc, std::move(text));
      continue;
    }
    const json &range = change.at("range");
    std::size_t at[2];
    for (int end = 0; end < 2; ++end) {
      const json &p = range.at(end == 0 ? "start" : "end");
      at[end] = offset_of(doc.text, doc.lines, p.at("line").get<std::uint64_t>(),
                          p.at("character").get<std::uint64_t>(), x.server.encoding);
    }
    change_text(doc, std::min(at[0], at[1]), std::max(at[0], at[1]), text);
  }
  doc.version = params.at("textDocument").value("version", doc.version);
  check_document(doc, x.server.drums);
  publish(x, uri, doc);
}

void close_document(exchange &x, const json &params) {
  std::string uri = params.at("textDocument").at("uri").get<std::string>();
  if (x.server.documents.erase(uri) != 0) {
    // The editor keeps what was published last until told otherwise.
    notify(x, "textDocument/publishDiagnostics", {{"uri", uri}, {"diagnostics", json::array()}});
  }
}

void save_document(exchange &x, const json &params) {
  std::string uri = params.at("textDocument").at("uri").get<std::string>();
  auto found = x.server.documents.find(uri);
  if (found != x.server.documents.end()) {
    read_saved(uri, found->second);
    publish(x, uri, found->second);
  }
}

void configure(exchange &x, const json &params) {
  const json &drums = params.value("/settings/qevcheck/drums"_json_pointer, json());
  if (!drums.is_null() && set_drums(x, drums)) {
    for (auto &[uri, doc] : x.server.documents) {
      check_document(doc, x.server.drums);
      publish(x, uri, doc);
    }
  }
}

// The open document a request is about; null for one that is not open.
static const lsp_document *document_of(exchange &x, const json &params, std::string *uri) {
  *uri = params.at("textDocument").at("uri").get<std::string>();
  auto found = x.server.documents.find(*uri);
  return found != x.server.documents.end() ? &found->second : nullptr;
}

void code_action(exchange &x, const json &params) {
  std::string uri;
  const lsp_document *doc = document_of(x, params, &uri);
  const json &range = params.at("range");
  action_request asked{range.at("start").at("line").get<std::uint64_t>(),
                       range.at("end").at("line").get<std::uint64_t>(), true, true};
  // Kinds are hierarchical: "source" asks for "source.fixAll" too.
  const json &only = params.value("/context/only"_json_pointer, json());
  if (only.is_array()) {
    asked.quick_fixes = asked.fix_all = false;
    for (const json &kind : only) {
      std::string k = kind.get<std::string>();
      asked.quick_fixes = asked.quick_fixes || k == "quickfix";
      asked.fix_all = asked.fix_all || k == "source" || k == "source.fixAll";
    }
  }
  answer(x, doc != nullptr ? code_actions(*doc, uri, asked, x.server.drums, x.server.encoding)
                           : json());
}

void hover(exchange &x, const json &params) {
  std::string uri;
  const lsp_document *doc = document_of(x, params, &uri);
  std::uint64_t line = params.at("position").at("line").get<std::uint64_t>();
  answer(x, doc != nullptr ? hover_of(*doc, line, x.server.drums, x.server.encoding) : json());
}

void outline(exchange &x, const json &params) {
  std::string uri;
  const lsp_document *doc = document_of(x, params, &uri);
  answer(x, doc != nullptr ? outline_of(*doc, x.server.encoding) : json());
}
