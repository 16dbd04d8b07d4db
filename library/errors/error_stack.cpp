// The routine-name stack: pushes and pops with the print and stop decisions they carry, the
// outcome queries and the print/stop tables.
#include <algorithm>
#include <cstring>

#include "errors/errors.h"
#include "errors/state.h"

namespace vesk1 {
namespace {

constexpr std::array<char, kNameLength> kBlankName = [] {
  std::array<char, kNameLength> blanks{};
  blanks.fill(' ');
  return blanks;
}();

// NAME equals the stacked name when both agree after padding the shorter with blanks.
bool SameStackedName(std::string_view name, const std::array<char, kNameLength>& stacked) {
  if (name.size() <= stacked.size()) {
    // (An empty view may carry a null pointer, which memcmp must not see.)
    return (name.empty() || std::memcmp(name.data(), stacked.data(), name.size()) == 0) &&
           std::memcmp(stacked.data() + name.size(), kBlankName.data(),
                       stacked.size() - name.size()) == 0;
  }
  if (std::memcmp(name.data(), stacked.data(), stacked.size()) != 0) return false;
  return name.find_first_not_of(' ', stacked.size()) == std::string_view::npos;
}

// A bad option of N1RTY or N1RCD is charged to the current routine, printed whatever the
// print table says, and ends the process.
[[noreturn]] void RejectOutcomeOption(std::string_view text) {
  InitErrorState();
  ErrorReportingState& s = Reporting();
  s.errors.type[s.errors.level] = kTerminal;
  s.errors.code[s.errors.level] = 1;
  std::copy(text.begin(), text.end(), s.message.text.begin());
  s.message.length = static_cast<int32_t>(text.size());
  PrintMessage();
  StopProcess();
}

void ApplyAttribute(int32_t& attribute, int32_t value, int32_t defaultValue) {
  if (value == 0 || value == 1) attribute = value;
  if (value == 2) attribute = defaultValue;
}

}  // namespace

void E1PSH(std::string_view name) {
  InitErrorState();
  ErrorState& e = Reporting().errors;
  if (e.level < e.maxLevel) {
    const int32_t level = ++e.level;
    auto& slot = e.name[level];
    const size_t n = std::min(name.size(), slot.size());
    if (n > 0) std::memcpy(slot.data(), name.data(), n);
    std::memset(slot.data() + n, ' ', slot.size() - n);
    e.type[level] = 0;
    e.code[level] = 0;
    return;
  }
  StoreIntegerParameter(1, e.maxLevel);
  IssueMessage(kTerminal, 1,
               "Error condition in E1PSH.  Push would cause stack level to exceed %(I1).");
  StopProcess();
}

void E1POP(std::string_view name) {
  ErrorState& e = Reporting().errors;
  // Before the first push the level is 0: also an empty stack, and E1PSH below initialises.
  const int32_t level = e.level;
  if (level <= 1) {
    E1PSH("E1POP");
    StoreLiteralParameter(1, name);
    IssueMessage(kTerminal, 1,
                 "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.");
    StopProcess();
  }
  if (!SameStackedName(name, e.name[level])) {
    StoreLiteralParameter(1, name);
    StoreLiteralParameter(2, std::string_view(e.name[level].data(), kNameLength));
    IssueMessage(kTerminal, 2,
                 "Error condition in E1POP.  %(L1) does not match the name %(L2) in the stack.");
    StopProcess();
  }

  const int32_t t = e.type[level];
  if (t == kNote) {
    // A note is never passed down, so only one raised by the caller's own routine surfaces.
    if (level == 2) {
      if (e.print[t] == 1) PrintMessage();
      if (e.stop[t] == 1) StopProcess();
    }
  } else if (t >= kAlert && t <= kFatalDeferredStop) {
    e.type[level - 1] = t;
    e.code[level - 1] = e.code[level];
    if (t <= kFatal) {
      if (level == 2) {
        if (e.print[t] == 1) PrintMessage();
        if (e.stop[t] == 1) StopProcess();
      }
    } else {
      // Normally printed when issued already; this catches one issued while printing was off.
      if (e.print[t] == 1) PrintMessage();
      if (t == kTerminal) {
        if (e.stop[t] == 1) StopProcess();
      } else if (level == 2) {
        // The deferred stop is decided once per call from outside; a pending fatal outranks a
        // pending warning.
        int32_t stop = 0;
        if (e.pendingWarning > 0) {
          stop = e.stop[kWarningDeferredStop];
          e.pendingWarning = 0;
        }
        if (e.pendingFatal > 0) {
          stop = e.stop[kFatalDeferredStop];
          e.pendingFatal = 0;
        }
        if (stop != 0) StopProcess();
      }
    }
  }

  if (level < e.maxLevel) {
    e.type[level + 1] = -1;
    e.code[level + 1] = -1;
  }
  // name, type and code of this level stay, so the caller can read the outcome with option 1.
  e.level = level - 1;
}

int32_t N1RTY(int32_t iopt) {
  const ErrorState& e = Reporting().errors;
  if (iopt == 0) return e.type[e.level];
  if (iopt == 1) return e.type[e.level + 1];
  RejectOutcomeOption(".  The argument passed to N1RTY must be 0 or 1.");
}

int32_t N1RCD(int32_t iopt) {
  const ErrorState& e = Reporting().errors;
  if (iopt == 0) return e.code[e.level];
  if (iopt == 1) return e.code[e.level + 1];
  RejectOutcomeOption(".  The argument passed to N1RCD must be 0 or 1.");
}

void SetPrintStopAttributes(int32_t iertyp, int32_t& ipatt, int32_t& isatt) {
  InitErrorState();
  ErrorState& e = Reporting().errors;
  if (iertyp < 0) {
    if (iertyp >= -kErrorTypes) {
      ipatt = e.print[-iertyp];
      isatt = e.stop[-iertyp];
    }
    return;
  }

  bool valid = true;
  if (ipatt < -1 || ipatt > 2) {
    StoreIntegerParameter(1, ipatt);
    IssueMessage(kTerminal, 1,
                 "Invalid value specified for print table attribute.  IPATT must be -1, 0, 1, "
                 "or 2.  IPATT = %(I1)");
    valid = false;
  }
  if (isatt < -1 || isatt > 2) {
    StoreIntegerParameter(1, isatt);
    IssueMessage(kTerminal, 1,
                 "Invalid value specified for stop table attribute.  ISATT must be -1, 0, 1, "
                 "or 2.  ISATT = %(I1)");
    valid = false;
  }
  if (!valid) return;

  const int32_t first = iertyp == 0 ? 1 : iertyp;
  const int32_t last = iertyp == 0 ? kErrorTypes : std::min(iertyp, kErrorTypes);
  for (int32_t t = first; t <= last; ++t) {
    ApplyAttribute(e.print[t], ipatt, kDefaultPrint[t]);
    ApplyAttribute(e.stop[t], isatt, kDefaultStop[t]);
  }
}

}  // namespace vesk1
