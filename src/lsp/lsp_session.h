// The language server's session on a byte stream: messages framed by their
// headers, read one at a time and answered in order, until the editor says
// exit or closes its end.
#ifndef QEV2MID_LSP_SESSION_H
#define QEV2MID_LSP_SESSION_H

#include <cstdio>

// How a session ended: exited (after shutdown or not), with the editor's end
// closed, at a header with no length the body could be read by, or at a
// write that failed.
enum class session_end { exit_after_shutdown, exit, input_closed, bad_header, write_failed };

session_end serve(std::FILE *in, std::FILE *out);

#endif
