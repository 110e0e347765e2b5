// What differs between systems, one file per system behind this header: the
// command line's encoding, text on a console, opening the input, the output file's life (opening
// it without harm to what stands at its path, keeping other runs off it, and
// removing it again when a run fails or is interrupted), and the direct
// write that starts and patches the output's header.
#ifndef QEV2MID_PLATFORM_H
#define QEV2MID_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Makes argv hold the command line in UTF-8, as paths are passed on to the
// functions below. Call first thing in main.
void platform_start(int *argc, char ***argv);

// Puts n bytes of UTF-8 text on a standard stream. Where the stream is a
// console, the text goes through the console's own Unicode output, so that
// names beyond ASCII show as they are. Returns false when the write failed.
bool put_text(std::FILE *stream, const char *text, std::size_t n);

// Opens path for reading, as bytes: the text-mode rules are applied by the
// reader, the same on every system. Null when it cannot be opened or is a
// directory, whose reading would fail only later; *directory, when given,
// then tells which.
std::FILE *open_input(const char *path, bool *directory = nullptr);

// Whether escape sequences colour text on the stream: it is a terminal that
// takes them (on Windows, a console that accepted being asked to).
bool colors_text(std::FILE *stream);

enum class create_result { ok, failed, is_input, exists };

// An input's bytes in memory, which the caller owns and frees.
struct input_bytes {
  std::uint8_t *data;
  std::size_t size, room;
};

enum class read_result { ok, failed, too_large, no_memory };

// The most read from a stream (a pipe, a terminal), which may never end.
inline constexpr std::size_t max_stream_input = std::size_t{256} << 20;

// Reads the input on into b until it holds until bytes or the input ends.
// too_large when a stream goes on past max_stream_input bytes.
read_result read_input(std::FILE *in, input_bytes *b, std::size_t until = SIZE_MAX);

// The size of a regular input; false for a stream.
bool input_size(std::FILE *in, std::uint64_t *size);

// Asks the system to back the memory that an input is read into with large
// pages where it can: read whole, a file of many megabytes would otherwise
// take a page fault every few KiB, which costs more than reading it. Only
// advice, which may go unheeded.
void advise_large_input(void *data, std::size_t size);

// Whether a regular input has more names than one (hard links), which a
// rewrite by a rename would part.
bool has_other_names(std::FILE *in);

// Waits for a shared lock on a regular input, which a run writing that
// file holds exclusively until it is complete, and takes it; a system or
// file that has no locks is read without one. unlock_input lets it go.
void lock_input(std::FILE *in);
void unlock_input(std::FILE *in);

// Makes a standard stream carry bytes as they are, where the system would
// otherwise translate line ends.
void set_binary(std::FILE *stream);

// Makes an interrupt remove an output this run has started, and (where there
// are such signals) a write past the file-size limit or to a closed standard
// error fail like any write. Call once, before open_output.
void install_interrupt_cleanup();

// What open_output does with a regular file that stands at the path.
enum class existing_file {
  empty_it,   // locks it and empties it in place, once nothing can fail
  replace_it, // locks it and writes a new file beside it, which close_output
              // renames over it: a failed run leaves it as it was
  keep_it,    // refuses it as exists, untouched
};

// Opens path for writing, as fopen's "wb" would, for a run that reads in
// (or null, for a run that rewrites the file it read, which it closed).
// Refuses the input itself and anything that cannot be rewound, leaving it
// as it was. A regular file is locked against other runs, which then come
// one after the other as in some serial order: a run that keeps an existing
// file refuses one that another run filled while it waited, even one it
// created itself. A file that is not there is created in one step and
// written in place. path must stay valid until the output is closed or
// discarded.
create_result open_output(const char *path, std::FILE *in, std::FILE **out, existing_file what);

// Closes the finished output, puts a replacing file in the place of the
// old, and releases it to other runs. Returns 0, or -1 when the close
// reveals a lost write; the output is then removed, and a file it was to
// replace stays as it was.
int close_output(std::FILE *out);

// Ends a failed run's output: a replacing file is removed and the old one
// left as it was; otherwise empties the output and removes its name, if the
// name still leads to it and it is a regular file, then closes it.
void discard_output(std::FILE *out);

// Writes n bytes at the output file's current offset, past the stream's
// buffer. Returns false unless all were written.
bool write_direct(std::FILE *out, const std::uint8_t *data, std::size_t n);

// Whether the output file's offset is 0, as after a rewind that worked.
bool at_file_start(std::FILE *out);

#endif
