#include "export_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>

namespace vesk1::test {
namespace {

using Bytes = std::vector<unsigned char>;

// Little-endian field of `width` bytes at `offset`; `ok` turns false when it lies outside.
uint64_t Field(const Bytes& bytes, uint64_t offset, int width, bool& ok) {
  if (offset > bytes.size() || bytes.size() - offset < static_cast<uint64_t>(width)) {
    ok = false;
    return 0;
  }
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[offset + i];
  return value;
}

std::string CString(const Bytes& bytes, uint64_t offset, bool& ok) {
  if (offset >= bytes.size()) {
    ok = false;
    return {};
  }
  const auto* begin = reinterpret_cast<const char*>(bytes.data() + offset);
  const auto* end = static_cast<const char*>(std::memchr(begin, 0, bytes.size() - offset));
  if (end == nullptr) {
    ok = false;
    return {};
  }
  return std::string(begin, end);
}

ExportTable ReadElf(const Bytes& bytes) {
  ExportTable table;
  bool ok = true;
  const bool wide = bytes.size() > 4 && bytes[4] == 2;  // ELFCLASS64
  const uint64_t sectionTable = Field(bytes, wide ? 0x28 : 0x20, wide ? 8 : 4, ok);
  const uint64_t sectionSize = Field(bytes, wide ? 0x3A : 0x2E, 2, ok);
  const uint64_t sectionCount = Field(bytes, wide ? 0x3C : 0x30, 2, ok);
  const int word = wide ? 8 : 4;
  auto sectionField = [&](uint64_t index, uint64_t offset32, uint64_t offset64, int width) {
    return Field(bytes, sectionTable + index * sectionSize + (wide ? offset64 : offset32), width,
                 ok);
  };
  constexpr uint64_t kDynamicSymbols = 11;  // SHT_DYNSYM
  for (uint64_t s = 0; s < sectionCount && ok; ++s) {
    if (sectionField(s, 4, 4, 4) != kDynamicSymbols) continue;
    const uint64_t symbols = sectionField(s, 16, 24, word);
    const uint64_t symbolsSize = sectionField(s, 20, 32, word);
    const uint64_t stringSection = sectionField(s, 24, 40, 4);
    const uint64_t strings = sectionField(stringSection, 16, 24, word);
    const uint64_t symbolSize = wide ? 24 : 16;
    for (uint64_t at = symbols; at + symbolSize <= symbols + symbolsSize && ok; at += symbolSize) {
      const uint64_t nameOffset = Field(bytes, at, 4, ok);
      const uint64_t info = Field(bytes, at + (wide ? 4 : 12), 1, ok);
      const uint64_t sectionIndex = Field(bytes, at + (wide ? 6 : 14), 2, ok);
      const bool local = (info >> 4) == 0;
      if (local || sectionIndex == 0) continue;  // STB_LOCAL, SHN_UNDEF
      std::string name = CString(bytes, strings + nameOffset, ok);
      if (!name.empty()) table.names.push_back(std::move(name));
    }
  }
  if (!ok) table.error = "malformed ELF file";
  return table;
}

ExportTable ReadPe(const Bytes& bytes) {
  ExportTable table;
  bool ok = true;
  const uint64_t header = Field(bytes, 0x3C, 4, ok);
  if (Field(bytes, header, 4, ok) != 0x00004550) ok = false;  // "PE\0\0"
  const uint64_t sectionCount = Field(bytes, header + 6, 2, ok);
  const uint64_t optionalSize = Field(bytes, header + 20, 2, ok);
  const uint64_t optional = header + 24;
  const bool wide = Field(bytes, optional, 2, ok) == 0x20B;  // PE32+
  const uint64_t exportRva = Field(bytes, optional + (wide ? 112 : 96), 4, ok);
  const uint64_t sections = optional + optionalSize;
  auto fileOffset = [&](uint64_t rva) -> uint64_t {
    for (uint64_t s = 0; s < sectionCount && ok; ++s) {
      const uint64_t at = sections + 40 * s;
      const uint64_t size = std::max(Field(bytes, at + 8, 4, ok), Field(bytes, at + 16, 4, ok));
      const uint64_t address = Field(bytes, at + 12, 4, ok);
      if (rva >= address && rva < address + size) {
        return rva - address + Field(bytes, at + 20, 4, ok);
      }
    }
    ok = false;
    return 0;
  };
  if (ok && exportRva != 0) {
    const uint64_t directory = fileOffset(exportRva);
    const uint64_t functionCount = Field(bytes, directory + 20, 4, ok);
    const uint64_t nameCount = Field(bytes, directory + 24, 4, ok);
    const uint64_t names = fileOffset(Field(bytes, directory + 32, 4, ok));
    for (uint64_t i = 0; i < nameCount && ok; ++i) {
      table.names.push_back(CString(bytes, fileOffset(Field(bytes, names + 4 * i, 4, ok)), ok));
    }
    // Entries reachable by ordinal only would leave the library as well.
    for (uint64_t i = nameCount; i < functionCount; ++i) {
      table.names.push_back("#ordinal-only-" + std::to_string(i));
    }
  }
  if (!ok) table.error = "malformed PE file";
  return table;
}

}  // namespace

ExportTable ReadExportTable(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {{}, "cannot open " + path};
  const Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ExportTable table;
  if (bytes.size() > 4 && std::memcmp(bytes.data(),
                                      "\x7f"
                                      "ELF",
                                      4) == 0) {
    table = ReadElf(bytes);
  } else if (bytes.size() > 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
    table = ReadPe(bytes);
  } else {
    table.error = path + " is neither an ELF nor a PE file";
  }
  std::sort(table.names.begin(), table.names.end());
  return table;
}

}  // namespace vesk1::test
