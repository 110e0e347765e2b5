// Text input: the block buffer, the text-mode rules and the end-of-file rules.
// QEV files come from systems whose text mode reads CR LF as LF and treats
// 0x1A as the end of the file, and whose reader took lines with fgets into
// 1000 bytes. This gives exactly the lines that would have given, but reads
// large blocks and leaves each line where it lies.
#include "text_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

static constexpr char eof_mark = 0x1A;

// Data stops at the first NUL or 0x1A, whichever comes first: nothing after
// either can be part of a good line. Each block is searched once, as it is
// read, rather than line by line: this cuts the data at the first of them in
// [from, to) and says whether there was one.
static bool cut_at_mark(text_input &in, const char *from, const char *to) {
  char *buf = input_data(in);
  auto n = static_cast<std::size_t>(to - from);
  const auto *nul = static_cast<const char *>(std::memchr(from, '\0', n));
  if (nul != nullptr) {
    n = static_cast<std::size_t>(nul - from);
  }
  const auto *mark = static_cast<const char *>(std::memchr(from, eof_mark, n));
  if (mark == nullptr && nul == nullptr) {
    return false;
  }
  in.len = static_cast<std::size_t>((mark != nullptr ? mark : nul) - buf);
  buf[in.len] = '\n';
  in.ended = mark != nullptr ? data_end::at_mark : data_end::nul;
  return true;
}

// Moves the unfinished line to the front and reads the next block behind it.
static void refill(text_input &in, std::FILE *stream) {
  char *buf = input_data(in);
  std::size_t rest = in.len - in.pos;
  std::memmove(buf, buf + in.pos, rest);
  in.base += in.pos;
  in.pos = 0;
  std::size_t got = 0;
  if (in.memory != nullptr) {
    got = std::min(read_block_size, in.memory_size - in.memory_read);
    std::memcpy(buf + rest, in.memory + in.memory_read, got);
    in.memory_read += got;
    in.ended = got < read_block_size ? data_end::end_of_file : data_end::none;
  }
  while (in.memory == nullptr && got < read_block_size) {
    got += std::fread(buf + rest + got, 1, read_block_size - got, stream);
    if (got == read_block_size) {
      break;
    }
    // A read cut short by a signal that the run outlives is no failure;
    // emulators deliver even ignored signals that way.
    if (std::ferror(stream) && errno == EINTR) {
      std::clearerr(stream);
      continue;
    }
    in.ended = std::ferror(stream) ? data_end::read_error : data_end::end_of_file;
    in.sys_error = errno;
    break;
  }
  in.len = in.read_len = rest + got;
  buf[in.len] = '\n';
  cut_at_mark(in, buf + rest, buf + in.len);
}

static int fault(text_input &in, input_fault why, std::size_t column) {
  in.error = why;
  in.error_column = column;
  return -2;
}

// The data ends inside a line of rest bytes. fgets would have stopped at
// whichever came first in the line's first 999 bytes.
static int unfinished_line(text_input &in, std::size_t rest) {
  if (rest > max_line) {
    return fault(in, input_fault::too_long, 0);
  }
  switch (in.ended) {
  case data_end::nul:
    return fault(in, input_fault::nul, rest + 1);
  case data_end::at_mark:
    in.mark_line = in.line;
    in.mark_column = rest + 1;
    return fault(in, input_fault::mark_in_line, rest + 1);
  case data_end::read_error:
    return fault(in, input_fault::read_failed, 0);
  default:
    return fault(in, input_fault::no_line_feed, 0);
  }
}

int next_line(text_input &in, std::FILE *stream, const char **line) {
  char *buf = input_data(in);
  for (;;) {
    const char *start = buf + in.pos;
    // At buf + in.len at the latest.
    const auto *lf = in.pos == in.len
                         ? buf + in.len
                         : static_cast<const char *>(std::memchr(start, '\n', in.len + 1 - in.pos));
    if (lf == buf + in.len) {
      // No line feed in the data: the line goes on in the next block, or
      // the input has ended, or the line is too long to be one.
      std::size_t rest = in.len - in.pos;
      if (in.ended == data_end::none && rest <= max_line + 1) {
        refill(in, stream);
        continue;
      }
      if (rest == 0 && in.ended == data_end::end_of_file) {
        return -1;
      }
      if (rest == 0 && in.ended == data_end::at_mark) {
        in.mark_line = in.line + 1;
        in.mark_column = 1;
        return -1;
      }
      ++in.line;
      return unfinished_line(in, rest);
    }
    ++in.line;
    // A carriage return before the line feed does not count.
    auto length = static_cast<std::size_t>(lf - start);
    if (length > 0 && lf[-1] == '\r') {
      --length;
    }
    if (length > max_line) {
      return fault(in, input_fault::too_long, 0);
    }
    *line = start;
    in.pos = static_cast<std::size_t>(lf + 1 - buf);
    return 0;
  }
}

std::uint64_t bytes_after_mark(text_input &in, std::FILE *stream, bool *padding_only) {
  char *buf = input_data(in);
  std::uint64_t n = 0;
  bool padding = true;
  const char *p = buf + in.len + 1;
  std::size_t len = in.read_len > in.len ? in.read_len - in.len - 1 : 0;
  for (;;) {
    n += len;
    for (std::size_t i = 0; i < len; ++i) {
      padding &= p[i] == eof_mark || p[i] == '\r' || p[i] == '\n';
    }
    p = buf;
    if (in.memory != nullptr) {
      p = in.memory + in.memory_read;
      len = in.memory_size - in.memory_read;
      in.memory_read = in.memory_size;
    } else {
      len = std::fread(buf, 1, read_block_size, stream);
    }
    if (len == 0) {
      break;
    }
  }
  *padding_only = padding;
  return n;
}
