// What the characters of a line are to a reader: UTF-8 sequences, the
// columns an editor shows, the look-alikes that hide in hand-written files,
// and note names.
#ifndef QEV2MID_CHARACTERS_H
#define QEV2MID_CHARACTERS_H

#include <cstddef>
#include <cstdint>
#include <string>

// The bytes of the valid UTF-8 sequence at p, with its code point in *cp;
// 0 where the byte at p starts none. ASCII is a sequence of one. p must be
// followed by a line feed at the latest.
std::size_t utf8_sequence(const char *p, char32_t *cp);

// Whether a code point is a control character, C0, DEL or C1: one that a
// terminal may act on rather than show.
bool is_control(char32_t cp);

// A file name as a line of text can show it: each control character a '?',
// so that no name can drive a terminal, and at most most bytes, cut where a
// character ends. Bytes that start no UTF-8 character pass as they are.
std::string printable_name(const char *name, std::size_t most = SIZE_MAX);

// The column, counting characters from 1, of the byte at byte_column in a
// line: each valid UTF-8 sequence, each invalid byte and each tab counts one.
std::size_t char_column(const char *line, std::size_t byte_column);

// The name of a character that looks like another, from a short list (the
// no-break space, the byte-order mark, dashes, curly quotes, full-width
// digits), or null.
const char *look_alike_name(char32_t cp);

// The length of a unit of time written right after a number ("ms", "s",
// "sec"...), or 0.
std::size_t unit_length(const char *p);

// A note's name with its octave, C4 being 60: "C4", "F#-1". out holds 5 bytes.
void note_name(std::uint8_t note, char *out);

// Reads a note name such as "C4", "Eb3" or "f#-1" at p: its number in
// *note and its length; 0 where none stands there or it is out of range.
std::size_t read_note_name(const char *p, unsigned *note);

#endif
