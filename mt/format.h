// Numbers into text as the C library prints them, for the tables, files and figures of mt/.
#ifndef VESK1_MT_FORMAT_H
#define VESK1_MT_FORMAT_H

#include <string>

namespace vesk1::mt {

// snprintf of up to seven numbers into a string of at most 319 characters; conversions the
// format does not name are ignored.
std::string Printf(const char* format, double a, double b = 0, double c = 0, double d = 0,
                   double e = 0, double f = 0, double g = 0);

}  // namespace vesk1::mt

#endif  // VESK1_MT_FORMAT_H
