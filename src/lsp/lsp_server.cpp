// Dispatching the protocol's messages. Parameters are read with the JSON
// library's checked accessors: a request whose parameters are not as the
// protocol has them gets the invalid-parameters error, a notification's are
// dropped, and nothing an editor sends can stop the server.
#include "lsp_server.h"

#include "lsp_exchange.h"

namespace {

// The protocol's error codes.
enum : int {
  parse_error = -32700,
  invalid_request = -32600,
  method_not_found = -32601,
  invalid_params = -32602,
  not_initialized = -32002,
};

} // namespace

void send(exchange &x, const json &message) {
  x.out.push_back(message.dump(-1, ' ', false, json::error_handler_t::replace));
}

void fail(exchange &x, int code, const std::string &why) {
  send(x, {{"jsonrpc", "2.0"}, {"id", x.id}, {"error", {{"code", code}, {"message", why}}}});
}

void answer(exchange &x, const json &result) {
  send(x, {{"jsonrpc", "2.0"}, {"id", x.id}, {"result", result}});
}

void notify(exchange &x, const char *method, const json &params) {
  send(x, {{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
}

void publish(exchange &x, const std::string &uri, const lsp_document &doc) {
  std::string message = R"({"jsonrpc":"2.0","method":"textDocument/publishDiagnostics",)";
  message += R"("params":{"uri":)" + json(uri).dump(-1, ' ', false, json::error_handler_t::replace);
  message += R"(,"version":)" + std::to_string(doc.version) + R"(,"diagnostics":)";
  message += diagnostics_text(doc, uri, x.server.encoding);
  message += "}}";
  x.out.push_back(std::move(message));
}

static void initialize(exchange &x, const json &params) {
  const json &encodings =
      params.value("/capabilities/general/positionEncodings"_json_pointer, json::array());
  bool utf8 = false;
  for (const json &e : encodings) {
    utf8 = utf8 || (e.is_string() && e.get<std::string>() == "utf-8");
  }
  lsp_server &s = x.server;
  s.encoding = utf8 ? position_encoding::utf8 : position_encoding::utf16;
  s.initialized = true;
  answer(x, {{"capabilities",
              {{"positionEncoding", utf8 ? "utf-8" : "utf-16"},
               {"textDocumentSync",
                {{"openClose", true}, {"change", 2}, {"save", {{"includeText", false}}}}},
               {"codeActionProvider", {{"codeActionKinds", {"quickfix", "source.fixAll"}}}},
               {"hoverProvider", true},
               {"documentSymbolProvider", true}}},
             {"serverInfo", {{"name", "qevcheck"}, {"version", QEV2MID_VERSION}}}});
  const json *options =
      params.contains("initializationOptions") && params["initializationOptions"].is_object()
          ? &params["initializationOptions"]
          : nullptr;
  if (options != nullptr && options->contains("drums")) {
    set_drums(x, (*options)["drums"]);
  }
}

// A method of an initialized server, before shutdown. False where there is
// no such method.
static bool dispatch(exchange &x, const std::string &method, const json &params) {
  if (method == "textDocument/didOpen") {
    open_document(x, params);
  } else if (method == "textDocument/didChange") {
    change_document(x, params);
  } else if (method == "textDocument/didClose") {
    close_document(x, params);
  } else if (method == "textDocument/didSave") {
    save_document(x, params);
  } else if (method == "workspace/didChangeConfiguration") {
    configure(x, params);
  } else if (method == "textDocument/codeAction") {
    code_action(x, params);
  } else if (method == "textDocument/hover") {
    hover(x, params);
  } else if (method == "textDocument/documentSymbol") {
    outline(x, params);
  } else if (method == "shutdown") {
    x.server.shut_down = true;
    x.server.documents.clear();
    answer(x, nullptr);
  } else {
    return method == "initialized";
  }
  return true;
}

static void handle(exchange &x, const std::string &method, const json &params) {
  lsp_server &s = x.server;
  if (method == "exit") {
    s.exited = true;
  } else if (method == "initialize" && !s.initialized) {
    initialize(x, params);
  } else if (!s.initialized || s.shut_down || method == "initialize") {
    if (x.request) {
      fail(x, !s.initialized ? not_initialized : invalid_request,
           !s.initialized ? "the server is not initialized"
           : s.shut_down  ? "the server is shut down"
                          : "the server is already initialized");
    }
  } else if (!dispatch(x, method, params) && x.request) {
    fail(x, method_not_found, "no such method: " + method);
  }
}

void handle_message(lsp_server &server, const std::string &body, std::vector<std::string> &out) {
  static const json none;
  json message = json::parse(body, nullptr, false);
  bool object = message.is_object();
  bool request = object && message.contains("id");
  json id = request ? message["id"] : json();
  bool valid_id = id.is_null() || id.is_number_integer() || id.is_string();
  exchange x{server, valid_id ? id : none, request, out};
  if (message.is_discarded()) {
    fail(x, parse_error, "the message is not JSON");
    return;
  }
  if (request && !message.contains("method") &&
      (message.contains("result") || message.contains("error"))) {
    return; // a response, where the server asked nothing
  }
  if (!object || !message.contains("method") || !message["method"].is_string() || !valid_id) {
    fail(x, invalid_request, "the message is neither a request nor a notification");
    return;
  }
  try {
    handle(x, message["method"].get<std::string>(),
           message.contains("params") ? message["params"] : json::object());
  } catch (const json::exception &e) {
    if (request) {
      fail(x, invalid_params,
           std::string("the parameters are not as the protocol has them: ") + e.what());
    }
  }
}
