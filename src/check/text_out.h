// Text appended at a cursor, for the findings' words: each function writes
// at out and returns the end. The caller's buffer holds max_message bytes,
// which every message fits, with values cut short.
#ifndef QEV2MID_TEXT_OUT_H
#define QEV2MID_TEXT_OUT_H

#include "qev/event_fields.h"

#include <cstddef>
#include <cstdint>

char *put(char *out, const char *text);
char *put_decimal(char *out, std::uint64_t v);
char *put_hex(char *out, std::uint32_t v, int digits);

// A field as written, cut after 24 bytes.
char *put_value(char *out, const char *value, std::size_t length);

// A time in milliseconds as seconds: "1.500 s".
char *put_seconds(char *out, std::uint64_t ms);

// The character at p as it stands: 'x' for plain ASCII, 'é' (U+00E9) or
// ' ' (U+00A0, no-break space) beyond it, U+0001 or U+009B for a control
// character (C0, DEL or C1), which a terminal would act on,
// and byte 0xC3 where no character starts.
char *put_char(char *out, const char *p);

// "seconds", "channel letter"...
const char *field_name(field f);

// The name of the look-alike character at p, or null.
const char *look_alike_at(const char *p);

#endif
