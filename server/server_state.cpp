#include "server_state.h"

#include <cstdlib>

namespace vesk1 {

ServerState& State() {
  static ServerState state;
  return state;
}

void EndServer(int status) {
  platform::RemovePipeName(State().pipe);
  std::_Exit(status);
}

}  // namespace vesk1
