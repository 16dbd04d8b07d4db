#include "workspace.h"

#include "errors/errors.h"

namespace vesk1 {

void IssueStorageFailure(int32_t n) {
  IssueMessage(kTerminal, -1, " ");
  StoreIntegerParameter(1, n);
  IssueMessage(kTerminal, 2,
               "The required storage cannot be allocated.  The workspace is based on N, where N = "
               "%(i1).");
}

}  // namespace vesk1
