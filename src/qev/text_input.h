// Text input: reads a QEV file in large blocks and yields its lines under the
// text-mode rules the format comes from (CR LF read as LF, 0x1A as the end
// of the file, lines as fgets would give them into 1000 bytes).
#ifndef QEV2MID_TEXT_INPUT_H
#define QEV2MID_TEXT_INPUT_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// The stream is read in blocks of this size.
inline constexpr std::size_t read_block_size = 128 * 1024;

// fgets into 1000 bytes takes at most 998 characters and the line feed.
inline constexpr std::size_t max_line = 998;

// Why the input cannot be read to its end.
enum class input_fault {
  none,
  read_failed,  // the system's read failed; errno tells why
  too_long,     // 999 or more characters before the line feed
  nul,          // a NUL byte in a line
  no_line_feed, // the last line ends at the end of the file
  mark_in_line, // a 0x1A ends the input inside a line
};

// Why no more data will come.
enum class data_end : std::uint8_t { none, end_of_file, at_mark, nul, read_error };

// Before the data there are input_spare bytes that are never a carriage
// return, and behind its end at least input_lookahead bytes that may be read.
inline constexpr std::size_t input_spare = 8;
inline constexpr std::size_t input_lookahead = 64;
// Room in front of the data for an unfinished line carried over from the
// last block, and behind it for the line feed that ends the data.
inline constexpr std::size_t input_storage =
    input_spare + max_line + 2 + read_block_size + 1 + input_lookahead;

// One stream's reading: its block buffer, where the reading stands and why it
// ended. Whoever reads a stream owns one, and a fresh one reads a new stream
// from its start: nothing of it is shared, so readers may nest.
struct text_input {
  // The data starts input_spare bytes in (input_data). data[pos, len) is
  // read but not yet taken, and data[len] is always a line feed, so that a
  // scan stops at the end of the data without testing for it.
  std::array<char, input_storage> storage{};
  std::size_t pos = 0;
  std::size_t len = 0;
  // Where the data read so far ends, even once it was cut at a NUL or a 0x1A.
  std::size_t read_len = 0;
  data_end ended = data_end::none;
  // The fault that made next_line return -2, and the column (from 1, a CR
  // before the line feed not counted) of the NUL or the 0x1A. For a failed
  // read, sys_error holds the system's reason (errno).
  input_fault error = input_fault::none;
  std::size_t error_column = 0;
  int sys_error = 0;
  // The number of the line that next_line returned last or found at fault,
  // counting line feeds as an editor does. Lines taken straight from the
  // buffer (the plain scan's) are counted only where the caller adds them,
  // as the checking pass does.
  std::uint64_t line = 0;
  // Where a 0x1A ended the input, when one did: its line and column.
  std::uint64_t mark_line = 0;
  std::size_t mark_column = 0;
  // The offset in the file of the data's first byte: a line at data + k
  // starts at byte base + k of the file.
  std::uint64_t base = 0;
  // Bytes to read instead of a stream, where memory is not null, of which
  // memory_read are read: a file already in memory, as a repair holds it.
  const char *memory = nullptr;
  std::size_t memory_size = 0;
  std::size_t memory_read = 0;
};

inline char *input_data(text_input &in) {
  return in.storage.data() + input_spare;
}
inline const char *input_data(const text_input &in) {
  return in.storage.data() + input_spare;
}

// The next line at input_data(in) + in.pos, read from stream, or from
// in.memory where that is set (stream is then not used). Returns 0 and points *line at it, ending
// in its only line feed; -1 at the end of the input; -2 when the input cannot
// be read to its end (see in.error). Reads more of the stream as needed, but
// never more than a line's first 999 bytes to find its end. Must not be
// called again after it returned something other than 0.
int next_line(text_input &in, std::FILE *stream, const char **line);

// After next_line returned -1 at a 0x1A: the number of bytes after it, read
// to the end of the stream, and whether they are all 0x1A, CR or LF, the
// padding old programs left behind.
std::uint64_t bytes_after_mark(text_input &in, std::FILE *stream, bool *padding_only);

#endif
