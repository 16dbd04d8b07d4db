#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "export_table.h"
#include "exported_names.h"
#include "loaded_library.h"

namespace vesk1::test {
namespace {

// Exactly the listed names leave the library: no C++ symbol, no helper, nothing from the C++
// runtime or the compiler's support library.
TEST(ExportTable_BuiltLibrary, ExactlyTheListedNames) {
  const ExportTable table = ReadExportTable(VESK1_FDLL_FILE);
  ASSERT_EQ(table.error, "");
  std::vector<std::string> expected(kExportedNames.begin(), kExportedNames.end());
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> extra;
  std::vector<std::string> missing;
  std::set_difference(table.names.begin(), table.names.end(), expected.begin(), expected.end(),
                      std::back_inserter(extra));
  std::set_difference(expected.begin(), expected.end(), table.names.begin(), table.names.end(),
                      std::back_inserter(missing));
  EXPECT_TRUE(extra.empty()) << "exported but not listed: " << testing::PrintToString(extra);
  EXPECT_TRUE(missing.empty()) << "listed but not exported: " << testing::PrintToString(missing);
}

TEST(ExportTable_LoadedLibrary, EveryListedNameResolves) {
  ASSERT_TRUE(Fdll().Loaded()) << VESK1_FDLL_FILE;
  for (std::string_view name : kExportedNames) {
    EXPECT_NE(Fdll().Find<void (*)()>(std::string(name).c_str()), nullptr) << name;
  }
}

}  // namespace
}  // namespace vesk1::test
