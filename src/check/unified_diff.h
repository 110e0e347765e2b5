// A file's repair as a unified diff, as diff -a -u writes one, so that
// patch -p0 applies it.
#ifndef QEV2MID_UNIFIED_DIFF_H
#define QEV2MID_UNIFIED_DIFF_H

#include <string>

// The diff from before to after, both the file name; empty when they are
// the same. Lines keep their own ends, so a CR LF stays one; a last line
// without a line feed is marked as diff marks it.
std::string unified_diff(const std::string &name, const std::string &before,
                         const std::string &after);

#endif
