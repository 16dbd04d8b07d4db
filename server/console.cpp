#include "console.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace vesk1 {

void Print(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<std::size_t>(length) < sizeof text) {
    platform::PrintAndFlush({text, static_cast<std::size_t>(length)});
    return;
  }
  // Longer than the usual message (a long pipe path): format again into a string that fits.
  std::string longText(static_cast<std::size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(longText.data(), longText.size(), format, args);
  va_end(args);
  longText.pop_back();
  platform::PrintAndFlush(longText);
}

}  // namespace vesk1
