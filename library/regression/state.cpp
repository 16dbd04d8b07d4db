#include "regression/state.h"

namespace vesk1 {
namespace {

// Zero-initialised at load, before any code of the library runs.
RegressionState gRegressionState;

}  // namespace

RegressionState& Regression() {
  return gRegressionState;
}

}  // namespace vesk1
