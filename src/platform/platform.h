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

// The whole of an opened input as bytes in memory: mapped where it is a
// regular file, else read to its end. The bytes stay until the process ends.
// False when a read failed.
bool map_input(std::FILE *in, const std::uint8_t **data, std::size_t *size);

// The system's part of map_input: maps a regular, non-empty input. False
// when it cannot, and map_input reads it instead.
bool map_regular(std::FILE *in, const std::uint8_t **data, std::size_t *size);

// Makes a standard stream carry bytes as they are, where the system would
// otherwise translate line ends.
void set_binary(std::FILE *stream);

// Makes an interrupt remove an output this run has started, and (where there
// are such signals) a write past the file-size limit or to a closed standard
// error fail like any write. Call once, before open_output.
void install_interrupt_cleanup();

// Opens path for writing, as fopen's "wb" would, for a run that reads in.
// Refuses the input itself and anything that cannot be rewound, leaving it
// as it was. A regular file is locked against other runs, then emptied last,
// once nothing can fail any more. Unless replace is set, an existing regular
// file is refused as exists, untouched: the file is created only when there
// is none, in one step. path must stay valid until the output is closed or
// discarded.
create_result open_output(const char *path, std::FILE *in, std::FILE **out, bool replace = true);

// Closes the finished output and releases it to other runs. Returns 0, or -1
// when the close reveals a lost write; the output is then removed.
int close_output(std::FILE *out);

// Ends a failed run's output: empties it and removes its name, if the name
// still leads to it and it is a regular file, then closes it.
void discard_output(std::FILE *out);

// Writes n bytes at the output file's current offset, past the stream's
// buffer. Returns false unless all were written.
bool write_direct(std::FILE *out, const std::uint8_t *data, std::size_t n);

// Whether the output file's offset is 0, as after a rewind that worked.
bool at_file_start(std::FILE *out);

#endif
