#include "linalg/state.h"

namespace vesk1 {
namespace {

// Zero-initialised at load, before any code of the library runs.
LinearAlgebraState gLinearAlgebraState;

}  // namespace

LinearAlgebraState& LinearAlgebra() {
  return gLinearAlgebraState;
}

}  // namespace vesk1
