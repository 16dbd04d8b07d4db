// UTF-8 text as the wide strings the Windows API takes, for the server's and the client's
// Windows files alike (Windows only).
#ifndef VESK1_COMMON_WIDE_TEXT_H
#define VESK1_COMMON_WIDE_TEXT_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstddef>
#include <string>

namespace vesk1::common {

inline std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

}  // namespace vesk1::common

#endif  // VESK1_COMMON_WIDE_TEXT_H
