// Formatted text for the programs' messages and findings, put on a standard
// stream through the platform layer, so that a console shows every name.
#ifndef QEV2MID_PUT_FORMAT_H
#define QEV2MID_PUT_FORMAT_H

#include "platform/printf_check.h"

#include <cstdio>

// Formats as printf does and puts the text on stream with put_text. Returns
// false when the text could not be made or written.
[[gnu::format(QEV2MID_PRINTF, 2, 3)]] bool put_format(std::FILE *stream, const char *format, ...);

#endif
