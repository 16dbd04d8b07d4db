#include "state.h"

namespace vesk1 {
namespace {

// Zero-initialised at load, before any code of the library runs.
EntryPointState gEntryPointState;

}  // namespace

EntryPointState& EntryPoints() {
  return gEntryPointState;
}

}  // namespace vesk1
