// What the programs do alike around their work: the name their messages
// start with, and the close of standard output that must not lose text.
#ifndef QEV2MID_PROGRAM_H
#define QEV2MID_PROGRAM_H

// The name a program's messages start with: as it was started, or fallback.
// Some kernels hand a program started without any words an empty name
// instead; a message that begins with ": " would name nothing either.
const char *program_name(int argc, char *const *argv, const char *fallback);

// Flushes and closes standard output. False when anything put on it was
// lost, which the program must then report rather than claim success.
bool close_stdout();

#endif
