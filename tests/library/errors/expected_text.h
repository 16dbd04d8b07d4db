// Pieces of expected printed text shared by the error-reporting tests: the fixed traceback
// heading and its rows, written out column by column.
#ifndef VESK1_TESTS_LIBRARY_ERRORS_EXPECTED_TEXT_H_
#define VESK1_TESTS_LIBRARY_ERRORS_EXPECTED_TEXT_H_

#include <cstdio>
#include <string>

namespace vesk1::test {

// Five blanks, then the headings; "Error type" starts 20 blanks after "Routine name".
inline const std::string kTracebackHead =
    "     Here is a traceback of subprogram calls in reverse order:\n"
    "     Routine name                    Error type  Error code\n"
    "     ------------                    ----------  ----------\n";

// Five blanks, the name in 32 columns, the type in 6, six blanks, the code in 6.
inline std::string TracebackRow(const char* name, int type, int code, bool internal) {
  char row[128];
  std::snprintf(row, sizeof row, "     %-32s%6d      %6d%s\n", name, type, code,
                internal ? "    (Called internally)" : "");
  return row;
}

}  // namespace vesk1::test

#endif  // VESK1_TESTS_LIBRARY_ERRORS_EXPECTED_TEXT_H_
