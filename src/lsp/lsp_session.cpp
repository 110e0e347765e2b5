// Framing: each message is a block of headers, one per line, ended by an
// empty line, and then as many bytes of JSON as its Content-Length header
// says. Headers end in CR LF; a lone LF is taken too.
#include "lsp_session.h"

#include "lsp_server.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

namespace {

enum class frame_result { ok, end, bad_header };

} // namespace

// A header line, without its line end; false at the end of the input, and
// for a line too long to be a header, which ends the block as bad.
static bool read_header(std::FILE *in, std::string *line, bool *too_long) {
  line->clear();
  int c = 0;
  while ((c = std::getc(in)) != EOF && c != '\n') {
    *too_long = *too_long || line->size() >= 1024;
    if (!*too_long) {
      *line += static_cast<char>(c);
    }
  }
  if (!line->empty() && line->back() == '\r') {
    line->pop_back();
  }
  return c != EOF;
}

// The value of a Content-Length header; false for any other header.
static bool content_length(const std::string &line, std::uint64_t *length, bool *bad) {
  static constexpr char name[] = "content-length:";
  if (line.size() < sizeof name - 1) {
    return false;
  }
  for (std::size_t i = 0; i + 1 < sizeof name; ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != name[i]) {
      return false;
    }
  }
  std::size_t at = line.find_first_not_of(' ', sizeof name - 1), digits = 0;
  std::uint64_t value = 0;
  for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at, ++digits) {
    value = value * 10 + static_cast<std::uint64_t>(line[at] - '0');
    // No editor sends a terabyte; past that, the count could overflow.
    *bad = *bad || value > (std::uint64_t{1} << 40);
  }
  *bad = *bad || digits == 0 || line.find_first_not_of(' ', at) != std::string::npos;
  *length = value;
  return true;
}

static frame_result read_frame(std::FILE *in, std::string *body) {
  std::string line;
  std::uint64_t length = 0;
  bool has_length = false, bad = false, any = false, too_long = false;
  while (read_header(in, &line, &too_long)) {
    if (line.empty() && any) {
      break;
    }
    any = any || !line.empty();
    has_length = content_length(line, &length, &bad) || has_length;
  }
  if (std::feof(in) || std::ferror(in)) {
    return frame_result::end;
  }
  if (!has_length || bad || too_long) {
    return frame_result::bad_header;
  }
  // Read in steps, so that a length the input does not hold costs no memory.
  body->clear();
  while (body->size() < length) {
    std::size_t at = body->size();
    auto step = static_cast<std::size_t>(std::min<std::uint64_t>(length - at, 1 << 20));
    body->resize(at + step);
    std::size_t got = std::fread(body->data() + at, 1, step, in);
    body->resize(at + got);
    if (got < step) {
      return frame_result::end;
    }
  }
  return frame_result::ok;
}

static bool write_frame(std::FILE *out, const std::string &body) {
  std::string header = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  return put_text(out, header.data(), header.size()) && put_text(out, body.data(), body.size());
}

session_end serve(std::FILE *in, std::FILE *out) {
  lsp_server server;
  std::string body;
  std::vector<std::string> replies;
  for (;;) {
    frame_result read = read_frame(in, &body);
    if (read != frame_result::ok) {
      return read == frame_result::end ? session_end::input_closed : session_end::bad_header;
    }
    replies.clear();
    handle_message(server, body, replies);
    for (const std::string &reply : replies) {
      if (!write_frame(out, reply)) {
        return session_end::write_failed;
      }
    }
    if (std::fflush(out) != 0) {
      return session_end::write_failed;
    }
    if (server.exited) {
      return server.shut_down ? session_end::exit_after_shutdown : session_end::exit;
    }
  }
}
