// Formatted text for the programs' messages and findings, put on a standard
// stream through the platform layer, so that a console shows every name.
#ifndef QEV2MID_PUT_FORMAT_H
#define QEV2MID_PUT_FORMAT_H

#include <cstdio>

// MinGW's C++ library formats as C99 does, though its compiler checks
// formats against the system's older printf unless told otherwise.
#ifdef __MINGW32__
#define QEV2MID_PRINTF gnu_printf
#else
#define QEV2MID_PRINTF printf
#endif

// Formats as printf does and puts the text on stream with put_text. Returns
// false when the text could not be made or written.
[[gnu::format(QEV2MID_PRINTF, 2, 3)]] bool put_format(std::FILE *stream, const char *format, ...);

#endif
