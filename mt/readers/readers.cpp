// Which reader a file needs, told from its text.
#include "mt/readers/readers.h"

#include "mt/readers/text.h"

namespace vesk1::mt {

ReadResult ParseSounding(std::string_view text, std::string_view name, const ReadOptions& options) {
  text = readers::WithoutByteOrderMark(text);
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && text[first] == '>') return ParseEdi(text, name, options);
  return ParseCsv(text, name, options);
}

}  // namespace vesk1::mt
