// Rewriting a file in place, whole or not at all, as qevcheck --fix does.
#ifndef QEV2MID_REWRITE_FILE_H
#define QEV2MID_REWRITE_FILE_H

#include <string>

enum class rewrite_result { ok, other_names, failed };

// Puts bytes in the place of the regular file at path: a new file beside
// it, renamed over it once written and on the disk, with its mode and,
// where the run may give them, its owner and group; a symbolic link is
// followed and stays a link. A file with other names (hard links) is
// refused, for the rename would part them. On any failure the file is as
// it was, and *error holds errno where the system gave one, else 0.
rewrite_result rewrite_file(const char *path, const std::string &bytes, int *error);

#endif
