// Reads the names a built shared library exports straight from the file: the defined global
// symbols of an ELF dynamic symbol table, or the export directory of a PE image (.dll).
#pragma once

#include <string>
#include <vector>

namespace vesk1::test {

struct ExportTable {
  std::vector<std::string> names;  // sorted
  std::string error;               // empty when the file was read
};

ExportTable ReadExportTable(const std::string& path);

}  // namespace vesk1::test
