#include "mt/format.h"

#include <cstdio>

namespace vesk1::mt {

std::string Printf(const char* format, double a, double b, double c, double d, double e, double f,
                   double g) {
  char buffer[320];
  std::snprintf(buffer, sizeof buffer, format, a, b, c, d, e, f, g);
  return buffer;
}

}  // namespace vesk1::mt
