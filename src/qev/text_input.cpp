// Text input: the block buffer, the text-mode rules and the end-of-file rules.
// QEV files come from systems whose text mode reads CR LF as LF and treats
// 0x1A as the end of the file, and whose reader took lines with fgets into
// 1000 bytes. This gives exactly the lines that would have given, but reads
// large blocks and leaves each line where it lies.
#include "text_input.h"

#include <cerrno>
#include <cstring>

static constexpr char eof_mark = 0x1A;

// Why no more data will come.
enum class data_end { none, end_of_file, at_mark, nul, read_error };

// Room in front of the data for an unfinished line carried over from the
// last block, and behind it for the line feed that ends the data.
static char storage[input_spare + max_line + 2 + read_block_size + 1 + input_lookahead];
char *const input_buf = storage + input_spare;
std::size_t input_pos = 0;
std::size_t input_len = 0;
// Where the data read so far ends, even once it was cut at a NUL or a 0x1A.
static std::size_t read_len = 0;
static data_end ended = data_end::none;

input_fault input_error = input_fault::none;
std::size_t input_error_column = 0;
int input_errno = 0;
std::uint64_t input_line = 0;
std::uint64_t mark_line = 0;
std::size_t mark_column = 0;

void input_restart() {
  input_pos = input_len = read_len = 0;
  ended = data_end::none;
  input_error = input_fault::none;
  input_error_column = 0;
  input_errno = 0;
  input_line = mark_line = 0;
  mark_column = 0;
}

// Data stops at the first NUL or 0x1A, whichever comes first: nothing after
// either can be part of a good line. Each block is searched once, as it is
// read, rather than line by line: this cuts the data at the first of them in
// [from, to) and says whether there was one.
static bool cut_at_mark(const char *from, const char *to) {
  auto n = static_cast<std::size_t>(to - from);
  const auto *nul = static_cast<const char *>(std::memchr(from, '\0', n));
  if (nul != nullptr) {
    n = static_cast<std::size_t>(nul - from);
  }
  const auto *mark = static_cast<const char *>(std::memchr(from, eof_mark, n));
  if (mark == nullptr && nul == nullptr) {
    return false;
  }
  input_len = static_cast<std::size_t>((mark != nullptr ? mark : nul) - input_buf);
  input_buf[input_len] = '\n';
  ended = mark != nullptr ? data_end::at_mark : data_end::nul;
  return true;
}

// Moves the unfinished line to the front and reads the next block behind it.
static void refill(std::FILE *in) {
  std::size_t rest = input_len - input_pos;
  std::memmove(input_buf, input_buf + input_pos, rest);
  input_pos = 0;
  std::size_t got = 0;
  while (got < read_block_size) {
    got += std::fread(input_buf + rest + got, 1, read_block_size - got, in);
    if (got == read_block_size) {
      break;
    }
    // A read cut short by a signal that the run outlives is no failure;
    // emulators deliver even ignored signals that way.
    if (std::ferror(in) && errno == EINTR) {
      std::clearerr(in);
      continue;
    }
    ended = std::ferror(in) ? data_end::read_error : data_end::end_of_file;
    input_errno = errno;
    break;
  }
  input_len = read_len = rest + got;
  input_buf[input_len] = '\n';
  cut_at_mark(input_buf + rest, input_buf + input_len);
}

static int fault(input_fault why, std::size_t column) {
  input_error = why;
  input_error_column = column;
  return -2;
}

// The data ends inside a line of rest bytes. fgets would have stopped at
// whichever came first in the line's first 999 bytes.
static int unfinished_line(std::size_t rest) {
  if (rest > max_line) {
    return fault(input_fault::too_long, 0);
  }
  switch (ended) {
  case data_end::nul:
    return fault(input_fault::nul, rest + 1);
  case data_end::at_mark:
    mark_line = input_line;
    mark_column = rest + 1;
    return fault(input_fault::mark_in_line, rest + 1);
  case data_end::read_error:
    return fault(input_fault::read_failed, 0);
  default:
    return fault(input_fault::no_line_feed, 0);
  }
}

int next_line(std::FILE *in, const char **line) {
  for (;;) {
    const char *start = input_buf + input_pos;
    // At input_buf + input_len at the latest.
    const auto *lf =
        input_pos == input_len
            ? input_buf + input_len
            : static_cast<const char *>(std::memchr(start, '\n', input_len + 1 - input_pos));
    if (lf == input_buf + input_len) {
      // No line feed in the data: the line goes on in the next block, or
      // the input has ended, or the line is too long to be one.
      std::size_t rest = input_len - input_pos;
      if (ended == data_end::none && rest <= max_line + 1) {
        refill(in);
        continue;
      }
      if (rest == 0 && ended == data_end::end_of_file) {
        return -1;
      }
      if (rest == 0 && ended == data_end::at_mark) {
        mark_line = input_line + 1;
        mark_column = 1;
        return -1;
      }
      ++input_line;
      return unfinished_line(rest);
    }
    ++input_line;
    // A carriage return before the line feed does not count.
    auto length = static_cast<std::size_t>(lf - start);
    if (length > 0 && lf[-1] == '\r') {
      --length;
    }
    if (length > max_line) {
      return fault(input_fault::too_long, 0);
    }
    *line = start;
    input_pos = static_cast<std::size_t>(lf + 1 - input_buf);
    return 0;
  }
}

std::uint64_t bytes_after_mark(std::FILE *in, bool *padding_only) {
  std::uint64_t n = 0;
  bool padding = true;
  const char *p = input_buf + input_len + 1;
  std::size_t len = read_len > input_len ? read_len - input_len - 1 : 0;
  for (;;) {
    n += len;
    for (std::size_t i = 0; i < len; ++i) {
      padding &= p[i] == eof_mark || p[i] == '\r' || p[i] == '\n';
    }
    p = input_buf;
    if ((len = std::fread(input_buf, 1, read_block_size, in)) == 0) {
      break;
    }
  }
  *padding_only = padding;
  return n;
}
