// The names vesk1_fdll exports, all of them and nothing else. Add a name here when its entry
// lands in library/exports.cpp.
#pragma once

#include <array>
#include <string_view>

namespace vesk1::test {

inline constexpr std::array<std::string_view, 8> kExportedNames = {
    "CPXMUL",
    "CPXEXP",
    "CPXROOT",
    "CRECUR1",
    "CDLINRG",
    "CDLFCRG",
    "CDSVRGP",
    "CDRLINE",
};

}  // namespace vesk1::test
