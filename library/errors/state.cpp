#include "errors/state.h"

#include <algorithm>

namespace vesk1 {
namespace {

// Constant-initialised (all zero apart from the unit table), so it is valid before any
// constructor of the host program runs.
ErrorReportingState gErrorReporting;

}  // namespace

ErrorReportingState& Reporting() {
  return gErrorReporting;
}

void InitErrorStateOnce() {
  ErrorState& e = gErrorReporting.errors;
  e.level = 1;
  e.maxLevel = kMaxLevel;
  for (auto& name : e.name) name.fill(' ');
  std::copy_n("USER", 4, e.name[1].begin());
  e.type.fill(-1);
  e.code.fill(-1);
  e.type[1] = 0;
  e.code[1] = 0;
  e.print = kDefaultPrint;
  e.stop = kDefaultStop;
  e.pendingWarning = 0;
  e.pendingFatal = 0;
  gErrorReporting.parameters.length = 1;
  gErrorReporting.message.length = 0;
  e.initialised = true;
}

}  // namespace vesk1
