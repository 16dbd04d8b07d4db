// The integer option manager IUMAG and its table of built-in options.
#include <algorithm>
#include <cstdint>

#include "errors/errors.h"
#include "errors/state.h"
#include "errors/text.h"

namespace vesk1 {
namespace {

constexpr int32_t kMathChapters = 10;
constexpr int32_t kStatChapters = 20;
constexpr int32_t kMathSpecialChapter = 10;  // report count and check switch of MATH
constexpr int32_t kStatSpecialChapter = 19;  // the same for STAT
constexpr int32_t kReportCount = 1;
constexpr int32_t kCheckSwitch = 2;

// Option numbers per chapter, index 1..20.
constexpr std::array<int32_t, 21> kMathChapterCounts = {0, 21, 1, 0, 0, 100, 0, 0, 0, 0, 3};
constexpr std::array<int32_t, 21> kStatChapterCounts = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                        0, 0, 0, 0, 0, 0, 0, 0, 3, 0};

// Writes the built-in values of an option into OUT and returns how many it holds (0: the
// option does not exist).
int32_t BuiltInValues(bool math, int32_t chapter, int32_t option, int32_t* out) {
  const int32_t largest = IMACH(5);
  auto put = [out](std::initializer_list<int32_t> values) {
    std::copy(values.begin(), values.end(), out);
    return static_cast<int32_t>(values.size());
  };
  auto run = [out](int32_t first, int32_t count) {
    for (int32_t i = 0; i < count; ++i) out[i] = first + i;
    return count;
  };
  // Report count, check switch, and a third value kept for the callers that read it.
  constexpr int32_t kSpecialOptions[] = {0, 2, 3};
  if (!math) return chapter == kStatSpecialChapter ? put({kSpecialOptions[option - 1]}) : 0;

  switch (chapter) {
    case 1:
      switch (option) {
        case 5:
          return put({1, largest});
        case 6:
          return put({largest});
        case 10:
        case 11:
        case 21:
          return put({1});
        case 13:
        case 14:
          return put({0});
        case 16:
          return put({1, 16, 0, 1});
        case 17:
          return put({1, 2});
        default:
          return 0;
      }
    case 2:
      return put({1, 16, 0, 1, 1, 16, 0, 1});
    case 5:
      if (option == 6) return run(51, 50);
      if (option == 7) return run(51, 20);
      if (option == 11 || option == 12) return put({0});
      if (option < 51) return 0;
      if (option == 56) return put({500});
      if (option == 68) return put({5});
      if (option == 69 || option == 70 || option == 77 || option == 80 || option == 83 ||
          option >= 86) {
        return put({largest});
      }
      if (option == 76 || option == 79 || option == 81) return put({1});
      if (option == 85) return put({0, 0});
      return put({0});
    case kMathSpecialChapter:
      return put({kSpecialOptions[option - 1]});
    default:
      return 0;
  }
}

void BuildProduct(OptionProduct& product, bool math) {
  const auto& counts = math ? kMathChapterCounts : kStatChapterCounts;
  product.chapters = math ? kMathChapters : kStatChapters;
  int32_t slot = 0;
  int32_t used = 0;
  product.pointer[0] = 0;
  for (int32_t chapter = 1; chapter <= product.chapters; ++chapter) {
    product.chapterBase[static_cast<size_t>(chapter)] = slot;
    product.chapterCount[static_cast<size_t>(chapter)] = counts[static_cast<size_t>(chapter)];
    for (int32_t option = 1; option <= counts[static_cast<size_t>(chapter)]; ++option) {
      used += BuiltInValues(math, chapter, option, product.values.data() + used);
      product.pointer[static_cast<size_t>(++slot)] = used;
    }
  }
  product.defaults = product.values;
}

// The values of an option as a span into VALUES (or DEFAULTS); empty when the chapter or the
// option does not exist.
std::span<int32_t> OptionSpan(OptionProduct& product, int32_t chapter, int64_t option,
                              bool defaults) {
  if (chapter < 1 || chapter > product.chapters) return {};
  if (option < 1 || option > product.chapterCount[static_cast<size_t>(chapter)]) return {};
  const auto slot =
      static_cast<size_t>(product.chapterBase[static_cast<size_t>(chapter)] + option - 1);
  auto& array = defaults ? product.defaults : product.values;
  return std::span<int32_t>(array).subspan(
      static_cast<size_t>(product.pointer[slot]),
      static_cast<size_t>(product.pointer[slot + 1] - product.pointer[slot]));
}

int64_t Magnitude(int32_t value) {
  return value < 0 ? -static_cast<int64_t>(value) : value;
}

// The argument checks, charged to IUMAG. Returns true when all passed.
bool CheckArguments(std::string_view productName, OptionProduct* product, int32_t ichp,
                    int32_t iact, int32_t numopt, std::span<const int32_t> iopts) {
  RoutineGuard guard("IUMAG");
  if (iact != 1 && iact != 2) {
    StoreIntegerParameter(1, iact);
    IssueMessage(kTerminal, 1,
                 "IACT must be 1 to get option values or 2 to put option values.  IACT = %(I1) "
                 "is invalid.");
  }
  if (product == nullptr) {
    StoreLiteralParameter(1, productName);
    IssueMessage(kTerminal, 2,
                 "The product name must be either MATH or STAT.  PRODNM = %(L1) is invalid.");
  }
  if (N1RTY(0) != 0) return false;

  if (ichp < 1 || ichp > product->chapters) {
    StoreIntegerParameter(1, ichp);
    StoreIntegerParameter(2, product->chapters);
    IssueMessage(kTerminal, 3,
                 productName == "MATH"
                     ? "ICHP = %(I1) is an invalid MATH chapter number.  To get or put MATH"
                       " options, ICHP must be between 1 and %(I2)."
                     : "ICHP = %(I1) is an invalid STAT chapter number.  To get or put STAT"
                       " options, ICHP must be between 1 and %(I2).");
  }
  if (N1RTY(0) != 0) return false;

  if (product->chapterCount[static_cast<size_t>(ichp)] == 0) {
    StoreIntegerParameter(1, ichp);
    IssueMessage(kTerminal, 4,
                 productName == "MATH"
                     ? "No options exist for MATH chapter %(I1).  Only existing options may have"
                       " values retrieved from or placed into them."
                     : "No options exist for STAT chapter %(I1).  Only existing options may have"
                       " values retrieved from or placed into them.");
  }
  if (numopt < 1) {
    StoreIntegerParameter(1, numopt);
    IssueMessage(kTerminal, 5,
                 "NUMOPT = %(I1) is an invalid number of options.  NUMOPT must be greater than"
                 " zero.");
  }
  if (N1RTY(0) != 0) return false;

  for (size_t i = 0; i < iopts.size(); ++i) {
    if (iopts[i] == 0 || OptionSpan(*product, ichp, Magnitude(iopts[i]), false).empty()) {
      StoreIntegerParameter(1, static_cast<int32_t>(i + 1));
      StoreIntegerParameter(2, iopts[i]);
      StoreLiteralParameter(1, productName);
      StoreIntegerParameter(3, ichp);
      IssueMessage(kTerminal, 6,
                   "IOPTS(%(I1)) = %(I2) is an invalid %(L1) chapter %(I3) option "
                   "number.");
    }
  }
  return N1RTY(0) == 0;
}

// Walks the listed options in order and hands each one that exists to VISIT with its values
// and its place in OPTVALS (npos for a put of defaults, which takes nothing from OPTVALS). The
// walk ends where OPTVALS, of OPTVALSSIZE values, has no room for the next option.
template <typename Visit>
void WalkEntries(OptionProduct& product, int32_t ichp, int32_t iact, std::span<const int32_t> iopts,
                 size_t optvalsSize, Visit visit) {
  size_t q = 0;
  for (size_t i = 0; i < iopts.size(); ++i) {
    const std::span<int32_t> values = OptionSpan(product, ichp, Magnitude(iopts[i]), false);
    if (values.empty()) continue;  // only reachable with checking switched off
    const bool usesOptvals = iact == 1 || iopts[i] > 0;
    if (!usesOptvals) {
      visit(i, values, std::string_view::npos);
      continue;
    }
    if (q + values.size() > optvalsSize) break;
    visit(i, values, q);
    q += values.size();
  }
}

// Gets or puts the values of the listed options.
void MoveValues(OptionProduct& product, int32_t ichp, int32_t iact, std::span<const int32_t> iopts,
                std::span<int32_t> optvals) {
  WalkEntries(product, ichp, iact, iopts, optvals.size(),
              [&](size_t i, std::span<int32_t> values, size_t q) {
                const std::span<int32_t> defaults =
                    OptionSpan(product, ichp, Magnitude(iopts[i]), true);
                if (iact == 1) {
                  const std::span<int32_t> source = iopts[i] < 0 ? defaults : values;
                  std::copy(source.begin(), source.end(), optvals.begin() + q);
                } else if (iopts[i] < 0) {
                  std::copy(defaults.begin(), defaults.end(), values.begin());
                } else {
                  std::copy_n(optvals.begin() + q, values.size(), values.begin());
                }
              });
}

void PrintReportBlock(std::string_view productName, int32_t ichp, int32_t iact, int32_t option,
                      std::span<const int32_t> shown) {
  int32_t unit = 0;
  UMACH(2, unit);
  char buffer[128];
  auto line = [&](auto... pieces) {
    size_t n = 0;
    auto add = [&](std::string_view piece) {
      n += static_cast<size_t>(
          std::copy_n(piece.begin(), std::min(piece.size(), sizeof buffer - n), buffer + n) -
          (buffer + n));
    };
    (add(pieces), ...);
    WriteRecord(unit, std::string_view(buffer, n));
  };
  auto column = [](int32_t value, size_t width, char* field) {
    FormatColumn(value, std::span<char>(field, width));
    return std::string_view(field, width);
  };
  char optionField[6], chapterField[2];
  const std::string_view optionText = column(option, 6, optionField);
  const std::string_view chapterText = column(ichp, 2, chapterField);

  line("");
  if (iact == 1) {
    line(" A return (get) of the following values", " from option");
    line(" number ", optionText, " in ", productName, " chapter ", chapterText,
         " was performed by IUMAG:");
  } else {
    line(" A change (put) was made by IUMAG to", " option number ", optionText, " in ",
         productName);
    line(" chapter ", chapterText, ", resulting in the following values for that", " option:");
  }
  line("             entry number              value");
  for (size_t j = 0; j < shown.size(); ++j) {
    char entryField[6], valueField[12];
    line("                   ", column(static_cast<int32_t>(j + 1), 6, entryField), "       ",
         column(shown[j], 12, valueField));
  }
}

}  // namespace

void IUMAG(std::string_view prodnm, int32_t ichp, int32_t iact, int32_t numopt,
           std::span<const int32_t> iopts, std::span<int32_t> optvals) {
  char name[4];
  for (size_t i = 0; i < 4; ++i) name[i] = ACHAR(UpperCode(i < prodnm.size() ? prodnm[i] : ' '));
  const std::string_view productName(name, 4);

  // The table holds only built-in values until a call passes its checks, so building it once
  // is the same as building it on every call until then; the defaults copy is taken with it.
  OptionTable& table = Reporting().options;
  if (!table.built) {
    BuildProduct(table.math, true);
    BuildProduct(table.stat, false);
    table.built = true;
  }
  OptionProduct* product = productName == "MATH"   ? &table.math
                           : productName == "STAT" ? &table.stat
                                                   : nullptr;
  const int32_t specialChapter = product == &table.stat ? kStatSpecialChapter : kMathSpecialChapter;
  iopts = iopts.first(
      static_cast<size_t>(std::clamp<int64_t>(numopt, 0, static_cast<int64_t>(iopts.size()))));

  const bool checking =
      product == nullptr || OptionSpan(*product, specialChapter, kCheckSwitch, false).front() != 1;
  if (checking) {
    if (!CheckArguments(productName, product, ichp, iact, numopt, iopts)) return;
  } else if ((iact != 1 && iact != 2) || ichp < 1 || ichp > product->chapters) {
    return;  // unchecked and invalid: nothing to address
  }

  // The count in force when the call starts decides its reports, so a put that sets the count
  // is itself silent and the calls after it report. A put of the count is what the count holds
  // afterwards: the reports of that call do not count it down.
  int32_t& reportCount = OptionSpan(*product, specialChapter, kReportCount, false).front();
  int32_t remaining = reportCount;
  bool putsReportCount = false;
  if (iact == 2 && ichp == specialChapter) {
    WalkEntries(*product, ichp, iact, iopts, optvals.size(),
                [&](size_t i, std::span<int32_t>, size_t) {
                  if (Magnitude(iopts[i]) == kReportCount) putsReportCount = true;
                });
  }
  MoveValues(*product, ichp, iact, iopts, optvals);
  if (remaining <= 0) return;

  WalkEntries(*product, ichp, iact, iopts, optvals.size(),
              [&](size_t i, std::span<int32_t> values, size_t q) {
                if (remaining <= 0) return;
                // A get reports what it returned, a put what the option now holds.
                const std::span<const int32_t> shown =
                    iact == 1 ? std::span<const int32_t>(optvals).subspan(q, values.size())
                              : std::span<const int32_t>(values);
                PrintReportBlock(productName, ichp, iact, iopts[i], shown);
                --remaining;
              });
  if (!putsReportCount) reportCount = remaining;
  if (iact == 1 && ichp == specialChapter) MoveValues(*product, ichp, iact, iopts, optvals);
}

}  // namespace vesk1
