// The file on disk beside the editor's text: editors hide a byte-order mark,
// add a final line feed, and decode other line ends and encodings, so the
// text checked may not be what qev2mid reads from the saved file.
#ifndef QEV2MID_LSP_DISK_H
#define QEV2MID_LSP_DISK_H

#include <string>

// The path a file URI names; false for any other URI.
bool path_of_uri(const std::string &uri, std::string *path);

// The whole file at path; false where it cannot be read.
bool read_disk(const std::string &path, std::string *bytes);

// What the saved file holds that an editor may hide; none where it could
// not be read.
struct disk_facts {
  bool bom, no_final_line_feed, end_mark, lone_cr, not_utf8;
};
disk_facts facts_of(const std::string &bytes);

// How the saved file differs from the checked text in what qev2mid reads,
// in words for the warning; empty where it does not.
std::string disk_differences(const disk_facts &disk, const std::string &checked);

#endif
