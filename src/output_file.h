// The output file's life: opening it without harm to what stands at its path,
// keeping other runs off it, and removing it again when a run fails or is
// interrupted.
#ifndef QEV2MID_OUTPUT_FILE_H
#define QEV2MID_OUTPUT_FILE_H

#include <cstdio>

enum class create_result { ok, failed, is_input };

// Sets the process's signal dispositions: a write past the file-size limit
// and a closed standard error become failed writes, and an interrupt removes
// an output this run has started. Call once, before open_output.
void install_signal_handlers();

// Opens path for writing, as fopen's "wb" would, for a run that reads the
// file open as in_fd. Refuses the input itself and anything that cannot be
// rewound, leaving it as it was. A regular file is locked against other runs,
// then emptied last, once nothing can fail any more. path must stay valid
// until the output is closed or discarded.
create_result open_output(const char *path, int in_fd, std::FILE **out);

// Closes the finished output and releases it to other runs. Returns 0, or -1
// when the close reveals a lost write; the output is then removed.
int close_output(std::FILE *out);

// Ends a failed run's output: empties it and removes its name, if the name
// still leads to it and it is a regular file, then closes it.
void discard_output(std::FILE *out);

#endif
