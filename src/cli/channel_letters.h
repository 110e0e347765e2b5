// MIDI channels as the command line and the web page name them: one letter
// each, a to p, as QEV lines name them.
#ifndef QEV2MID_CHANNEL_LETTERS_H
#define QEV2MID_CHANNEL_LETTERS_H

#include <cstdint>

// The drum channels as letters name them, "jk", or "none": the one form
// qevcheck's --drums and the web page take. Bit n of *mask is channel n.
// False, with *mask untouched, for anything else.
bool parse_drums(const char *letters, std::uint16_t *mask);

#endif
