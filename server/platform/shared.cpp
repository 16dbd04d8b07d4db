// What the two systems' layers do alike: the pipe's read-all and write-all loops. They make no
// system call of their own; the raw calls come from the system-call table of the one compiled
// implementation, and so do the codes for an interrupted call and a peer that hung up.
#include <cstddef>

#include "platform/platform.h"

namespace vesk1::platform {
namespace {

// Moves exactly `size` bytes with `call` (a receive or a send of the table), completing short
// transfers and retrying interrupted ones. A call that moves nothing means the peer is gone:
// a read would wait for bytes that never come, a write would never take the rest.
template <typename Byte, typename Call>
ErrorCode TransferFull(PipeEndpoint& pipe, Byte* bytes, std::size_t size, Call call) {
  std::size_t done = 0;
  while (done < size) {
    ErrorCode error = kNoError;
    const std::ptrdiff_t moved = call(pipe.connected, bytes + done, size - done, &error);
    if (moved < 0) {
      if (error == InterruptedCode()) continue;
      return error;
    }
    if (moved == 0) return BrokenPipeCode();
    done += static_cast<std::size_t>(moved);
  }
  return kNoError;
}

}  // namespace

ErrorCode ReadFull(PipeEndpoint& pipe, void* buffer, std::size_t size) {
  return TransferFull(pipe, static_cast<unsigned char*>(buffer), size, SystemCallTable().receive);
}

ErrorCode WriteFull(PipeEndpoint& pipe, const void* buffer, std::size_t size) {
  return TransferFull(pipe, static_cast<const unsigned char*>(buffer), size,
                      SystemCallTable().send);
}

}  // namespace vesk1::platform
