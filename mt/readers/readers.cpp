// Which reader a file needs, told from its text.
#include "mt/readers/readers.h"

#include <fstream>
#include <iterator>

namespace vesk1::mt {

ReadResult ParseSounding(std::string_view text, std::string_view name, const ReadOptions& options) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first != std::string_view::npos && text[first] == '>') return ParseEdi(text, name, options);
  return ParseCsv(text, name, options);
}

ReadResult ReadSoundingFile(const std::string& path, const ReadOptions& options) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {{}, path + ": cannot read the file"};
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return {{}, path + ": cannot read the file"};
  return ParseSounding(text, path, options);
}

}  // namespace vesk1::mt
