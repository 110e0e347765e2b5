#ifndef QEV2MID_TEST_NAMES_H
#define QEV2MID_TEST_NAMES_H

#include <gtest/gtest.h>

#include <cctype>
#include <string>

// Names a table row's test after its name field, in the characters gtest allows.
template <class Row> std::string row_name(const testing::TestParamInfo<Row> &row) {
  std::string n;
  for (const char *p = row.param.name; *p != '\0'; ++p) {
    n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
  }
  return n;
}

#endif
