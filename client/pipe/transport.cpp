// The client's record handling, the same on every system; transport_posix.cpp and
// transport_win32.cpp hold the pipe's side.
#include "client/pipe/transport.h"

#include <algorithm>
#include <cstring>

namespace vesk1::client {

const char* StatusText(ClientStatus status) {
  switch (status) {
    case ClientStatus::kOk:
      return "ok";
    case ClientStatus::kNoServer:
      return "no server listens on the pipe";
    case ClientStatus::kClosed:
      return "the server closed the pipe";
    case ClientStatus::kTimedOut:
      return "no reply in time";
    case ClientStatus::kFailed:
      return "system call failed";
    case ClientStatus::kBusy:
      return "the server is already serving a client";
    case ClientStatus::kRefused:
      return "refused: not this user's own";
  }
  return "unknown";
}

ClientStatus ConnectAsAsked(int instance, const std::string& socketPath, Connection& connection,
                            std::string& path) {
  if (!socketPath.empty()) {
    path = socketPath;
    return Connect(path, connection);
  }
  path = PipePathFor(instance);
  return ConnectToInstance(instance, connection);
}

ClientStatus ExchangeInOrder(Connection& connection, std::span<const PipeRequest> requests,
                             std::span<PipeReply> replies, int timeoutMilliseconds) {
  if (replies.size() != requests.size()) return ClientStatus::kFailed;
  size_t sent = 0;
  for (size_t received = 0; received < requests.size(); ++received) {
    while (sent < requests.size() && sent - received < kRequestsInFlight) {
      const ClientStatus status = SendRequest(connection, requests[sent]);
      if (status != ClientStatus::kOk) return status;
      ++sent;
    }
    const ClientStatus status = ReceiveReply(connection, replies[received], timeoutMilliseconds);
    if (status != ClientStatus::kOk) return status;
  }
  return ClientStatus::kOk;
}

std::string PipePathOnHost(const std::string& localPath, const std::string& host) {
  const std::string local = "\\\\.\\";
  if (localPath.compare(0, local.size(), local) != 0) return localPath;
  return "\\\\" + host + "\\" + localPath.substr(local.size());
}

PipeRequest NewRequest() {
  PipeRequest request;
  std::memset(&request, 0, sizeof request);
  request.magic = RecordMagic;
  return request;
}

void SetFloatItems(PipeRequest& request, std::span<const float> values) {
  const std::size_t count = std::min<std::size_t>(values.size(), kRequestItemCapacity);
  for (std::size_t k = 0; k < count; ++k) std::memcpy(&request.items[k], &values[k], 4);
  request.itemCount = static_cast<std::int32_t>(values.size());
}

void SetWordItems(PipeRequest& request, std::span<const std::uint32_t> words) {
  const std::size_t count = std::min<std::size_t>(words.size(), kRequestItemCapacity);
  for (std::size_t k = 0; k < count; ++k) request.items[k] = words[k];
  request.itemCount = static_cast<std::int32_t>(words.size());
}

PipeRequest StopRequest(std::int32_t itemCount) {
  PipeRequest request = NewRequest();
  const float stop = VESK1_STOP_ITEM;
  std::memcpy(&request.items[0], &stop, 4);
  request.itemCount = itemCount;
  return request;
}

std::uint64_t EntryBits(const PipeReply& reply, int k) {
  std::uint64_t bits;
  std::memcpy(&bits, reply.entries[k], 8);
  return bits;
}

std::uint32_t EntryLowWord(const PipeReply& reply, int k) {
  std::uint32_t word;
  std::memcpy(&word, reply.entries[k], 4);
  return word;
}

std::uint32_t EntryHighWord(const PipeReply& reply, int k) {
  std::uint32_t word;
  std::memcpy(&word, reply.entries[k] + 4, 4);
  return word;
}

bool ServerLink::Failed(std::string& error) const {
  if (status_ == ClientStatus::kOk) return false;
  error = std::string("the server: ") + StatusText(status_);
  return true;
}

bool ServerLink::Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) {
  status_ = SendRequest(connection_, request);
  if (status_ == ClientStatus::kOk) status_ = ReceiveReply(connection_, reply, timeoutMs_);
  return !Failed(error);
}

bool ServerLink::ExchangeAll(const std::vector<PipeRequest>& requests,
                             std::vector<PipeReply>& replies, std::string& error) {
  replies.resize(requests.size());
  status_ = ExchangeInOrder(connection_, requests, replies, timeoutMs_);
  return !Failed(error);
}

}  // namespace vesk1::client
