// The format checks' idea of printf, which differs between systems.
#ifndef QEV2MID_PRINTF_CHECK_H
#define QEV2MID_PRINTF_CHECK_H

// MinGW's C++ library formats as C99 does, though its compiler checks
// formats against the system's older printf unless told otherwise.
#ifdef __MINGW32__
#define QEV2MID_PRINTF gnu_printf
#else
#define QEV2MID_PRINTF printf
#endif

#endif
