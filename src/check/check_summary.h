// A file's findings and events counted, and said in one summary line, with
// a line per channel where asked: the same for qevcheck and the web page.
#ifndef QEV2MID_CHECK_SUMMARY_H
#define QEV2MID_CHECK_SUMMARY_H

#include "check_pass.h"

#include <cstdint>
#include <string>

struct channel_tally {
  std::uint64_t events, notes; // all events, and the note ons among them
  std::uint8_t low, high;      // the lowest and highest note on
  std::uint32_t first, last;   // the times of the first and last events
};

// meant counts the lines meant as events, accepted those the converter
// writes; by_level the findings of each severity.
struct check_tally {
  std::uint64_t by_level[3];
  std::uint64_t meant, accepted;
  channel_tally channel[16];
};

// Counts one record of the checking pass.
void tally_record(check_tally &tally, const check_record &r);

// "song.qev: 2 errors, 12 warnings; 45 of 57 events convert", or "...; qev2mid
// cannot convert it" where it does not, and with channels, a line for each
// channel that has events: "song.qev: channel a: 12 notes from C3 to G4,
// 0.000 s to 8.500 s". Each line ends in a line feed.
std::string summary_text(const char *name, const check_tally &tally, bool converts, bool channels);

// A channel's words in that summary, after its name: "12 notes from C3 to
// G4, 0.000 s to 8.500 s".
std::string channel_words(const channel_tally &c);

#endif
