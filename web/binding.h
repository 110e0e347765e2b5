// What the web page's two halves share: binding_check.cpp, the checking
// pass and its fixes, and binding_convert.cpp, the conversions both ways.
// Each call that makes bytes for the page leaves them with the second, and
// the page takes them through qev_output.
#ifndef QEV2MID_WEB_BINDING_H
#define QEV2MID_WEB_BINDING_H

#include <string>

// Makes bytes what qev_output hands to the page next; returns their size.
int give_output(const std::string &bytes);

#endif
