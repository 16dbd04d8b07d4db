#include "client/input_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace vesk1::client {

bool ReadInputFile(const std::string& path, std::string& text, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code code;
  const fs::file_status status = fs::status(path, code);
  if (code || !fs::exists(status)) {
    error = path + ": cannot read the file";
    return false;
  }
  if (!fs::is_regular_file(status)) {
    error = path + ": not a regular file" +
            (fs::is_directory(status) ? std::string(" (a directory)") : std::string());
    return false;
  }
  const std::uintmax_t size = fs::file_size(path, code);
  if (!code && size > kLargestInputFile) {
    error = path + ": larger than 256 MiB";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = path + ": cannot read the file";
    return false;
  }
  // Read no more than the limit and one chunk, should the file grow meanwhile.
  text.clear();
  static constexpr size_t kChunk = 1 << 16;
  std::string chunk(kChunk, '\0');
  while (file && text.size() <= kLargestInputFile) {
    file.read(chunk.data(), static_cast<std::streamsize>(kChunk));
    text.append(chunk.data(), static_cast<size_t>(file.gcount()));
  }
  if (file.bad()) {
    error = path + ": cannot read the file";
    return false;
  }
  if (text.size() > kLargestInputFile) {
    error = path + ": larger than 256 MiB";
    return false;
  }
  return true;
}

mt::ReadResult ReadSoundingFile(const std::string& path, const mt::ReadOptions& options) {
  std::string text, error;
  if (!ReadInputFile(path, text, error)) return {{}, error};
  return mt::ParseSounding(text, path, options);
}

bool WriteOutputFile(const std::string& path, const std::string& text, const char* program) {
  if (path == "-") {
    std::fputs(text.c_str(), stdout);
    return true;
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    std::fprintf(stderr, "%s: cannot write %s\n", program, path.c_str());
    return false;
  }
  return true;
}

}  // namespace vesk1::client
