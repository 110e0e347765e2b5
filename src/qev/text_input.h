// Text input: reads a QEV file in large blocks and yields its lines under the
// text-mode rules the format comes from (CR LF read as LF, 0x1A as the end
// of the file, lines as fgets would give them into 1000 bytes).
#ifndef QEV2MID_TEXT_INPUT_H
#define QEV2MID_TEXT_INPUT_H

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

// The fault that made next_line return -2, and the column (from 1, a CR
// before the line feed not counted) of the NUL or the 0x1A. For a failed
// read, input_errno holds the system's reason.
extern input_fault input_error;
extern std::size_t input_error_column;
extern int input_errno;

// The number of the line that next_line returned last or found at fault,
// counting line feeds as an editor does. Lines taken straight from the
// buffer (the plain scan's) are counted only where the caller adds them, as
// the checking pass does.
extern std::uint64_t input_line;

// Where a 0x1A ended the input, when one did: its line and column.
extern std::uint64_t mark_line;
extern std::size_t mark_column;

// The block buffer. input_buf[input_pos, input_len) is read but not yet
// taken, and input_buf[input_len] is always a line feed, so that a scan
// stops at the end of the data without testing for it. Before the data
// there are input_spare bytes that are never a carriage return, and behind
// input_buf[input_len] at least input_lookahead bytes that may be read.
inline constexpr std::size_t input_spare = 8;
inline constexpr std::size_t input_lookahead = 64;
extern char *const input_buf;
extern std::size_t input_pos;
extern std::size_t input_len;

// The next line at input_buf[input_pos]. Returns 0 and points *line at it,
// ending in its only line feed; -1 at the end of the input; -2 when the
// input cannot be read to its end (see input_error). Reads more of the
// stream as needed, but never more than a line's first 999 bytes to find
// its end. Must not be called again after it returned something other than 0.
int next_line(std::FILE *in, const char **line);

// After next_line returned -1 at a 0x1A: the number of bytes after it, read
// to the end of the stream, and whether they are all 0x1A, CR or LF, the
// padding old programs left behind.
std::uint64_t bytes_after_mark(std::FILE *in, bool *padding_only);

// Forgets everything read, to read another stream from its start.
void input_restart();

#endif
