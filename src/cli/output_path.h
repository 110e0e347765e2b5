// The output's name beside the input: the input's name with its extension
// replaced, the one rule that qev2mid and mid2qev share.
#ifndef QEV2MID_OUTPUT_PATH_H
#define QEV2MID_OUTPUT_PATH_H

// The extension of path: from its last "." to the end, or "" when there is no
// "." or a directory or drive separator follows it. Never null.
const char *getext(const char *path);

// path with its extension replaced by ext, newly allocated; null when out of memory.
char *newext(const char *path, const char *ext);

#endif
