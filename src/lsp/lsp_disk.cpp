// Reading the saved file of a document, and saying how it differs.
#include "lsp_disk.h"

#include "platform/platform.h"
#include "qev/characters.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static int hex_value(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

bool path_of_uri(const std::string &uri, std::string *path) {
  if (uri.compare(0, 7, "file://") != 0) {
    return false;
  }
  // The authority, usually empty or localhost, ends where the path starts.
  std::size_t at = uri.find('/', 7);
  if (at == std::string::npos) {
    return false;
  }
  // A drive's path comes as /C:/...; no POSIX system has such a root folder.
  if (uri.size() > at + 3 && uri[at + 2] == ':' && std::isalpha(uri[at + 1] & 0xFF) != 0) {
    ++at;
  }
  path->clear();
  for (; at < uri.size(); ++at) {
    int high = 0, low = 0;
    if (uri[at] == '%' && at + 2 < uri.size() && (high = hex_value(uri[at + 1])) >= 0 &&
        (low = hex_value(uri[at + 2])) >= 0) {
      *path += static_cast<char>(high * 16 + low);
      at += 2;
    } else {
      *path += uri[at];
    }
  }
  return path->find('\0') == std::string::npos;
}

bool read_disk(const std::string &path, std::string *bytes) {
  std::FILE *in = open_input(path.c_str());
  if (in == nullptr) {
    return false;
  }
  input_bytes b{};
  bool read = read_input(in, &b) == read_result::ok;
  std::fclose(in);
  if (read) {
    bytes->assign(reinterpret_cast<const char *>(b.data), b.size);
  }
  std::free(b.data);
  return read;
}

// The decoder stops at a line feed at the latest, which the copy ends in.
static bool valid_utf8(const std::string &bytes) {
  std::string ended = bytes + '\n';
  for (const char *p = ended.data(), *end = p + bytes.size(); p < end;) {
    char32_t cp = 0;
    std::size_t n = static_cast<unsigned char>(*p) < 0x80 ? 1 : utf8_sequence(p, &cp);
    if (n == 0) {
      return false;
    }
    p += n;
  }
  return true;
}

static bool lone_cr(const std::string &bytes) {
  for (std::size_t at = bytes.find('\r'); at != std::string::npos; at = bytes.find('\r', at + 1)) {
    if (at + 1 == bytes.size() || bytes[at + 1] != '\n') {
      return true;
    }
  }
  return false;
}

disk_facts facts_of(const std::string &bytes) {
  return {bytes.compare(0, 3, "\xEF\xBB\xBF") == 0, !bytes.empty() && bytes.back() != '\n',
          bytes.find('\x1A') != std::string::npos, lone_cr(bytes), !valid_utf8(bytes)};
}

std::string disk_differences(const disk_facts &disk, const std::string &checked) {
  std::string words;
  auto add = [&words](const char *what) { words.append(words.empty() ? "" : ", ").append(what); };
  if (disk.bom && checked.compare(0, 3, "\xEF\xBB\xBF") != 0) {
    add("it starts with a byte-order mark");
  }
  if (disk.no_final_line_feed && !checked.empty() && checked.back() == '\n') {
    add("its last line has no line feed");
  }
  if (disk.end_mark && checked.find('\x1A') == std::string::npos) {
    add("it holds byte 0x1A, the old end-of-file mark");
  }
  if (disk.lone_cr) {
    add("its lines end in CR alone");
  }
  if (disk.not_utf8) {
    add("it is not UTF-8");
  }
  if (words.empty()) {
    return words;
  }
  return "the saved file is not the text shown here: " + words +
         "; qev2mid reads the saved file, so run qevcheck on it to see what that changes";
}
