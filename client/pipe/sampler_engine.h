// The sampler's chain engine as requests to the sounding module (common/sampler_request.h): the
// prior and the sounding go to the workers as data requests, once with each item count the step
// requests use; the walkers travel in step requests of up to ChainsPerStepRequest walkers each,
// which the server splits among its workers, all of a round's requests sent before their replies
// are read; the exchanges of temperatures are drawn here from the run's seed.
#ifndef VESK1_CLIENT_PIPE_SAMPLER_ENGINE_H
#define VESK1_CLIENT_PIPE_SAMPLER_ENGINE_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "client/pipe/transport.h"
#include "common/sampler_request.h"
#include "mt/sampler.h"
#include "vesk1/module.h"

namespace vesk1::client {

// The order in which `requests` step requests of equal size (the larger first) carry walkers of
// these costs: a request takes as long as the slowest of the workers' contiguous shares, so the
// walkers are dealt, costliest first, straight into the halves of all the requests (what two
// workers take), and each half into its halves, and so on, each to the part with the least
// cost so far: with 2, 4 or 8 workers every share then holds about the same work.
std::vector<int> BalancedOrder(std::span<const double> cost, size_t requests);

// Builds the requests and reads the replies; a subclass answers each request (the server here,
// the module's computation in this process in the tests).
class RequestChainEngine : public mt::ChainEngine {
 public:
  explicit RequestChainEngine(uint64_t seed) : seed_(seed) {}

  bool SetProblem(const mt::SamplerProblem& problem, std::string& error) override;
  bool Advance(std::vector<mt::Walker>& walkers, int steps, std::string& error) override;
  bool SwapAccepted(uint32_t round, uint32_t pair, double betaA, double misfitA, double betaB,
                    double misfitB) override;

  int requests() const { return requests_; }
  double serverMilliseconds() const { return serverMs_; }

 protected:
  // Answers one request; false with `error` set when no reply came.
  virtual bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) = 0;
  // Answers the requests in order, replies[k] to requests[k]; false with `error` set when a
  // reply did not come. One Exchange after another unless a subclass streams them.
  virtual bool ExchangeAll(const std::vector<PipeRequest>& requests,
                           std::vector<PipeReply>& replies, std::string& error);

 private:
  bool Send(const std::vector<PipeRequest>& requests, std::vector<PipeReply>& replies,
            std::string& error);
  bool SendData(int itemCount, std::string& error);
  // Sets order_: the walkers in the order the round's `requests` requests carry them.
  void OrderByCost(const std::vector<mt::Walker>& walkers, size_t requests);
  // Takes the reply to the step request of walkers order_[first, first + count).
  bool TakeStep(const PipeReply& reply, std::vector<mt::Walker>& walkers, size_t first,
                size_t count, int steps, std::string& error);

  uint64_t seed_;
  uint32_t dataId_ = 0;  // of the problem set last; each SetProblem takes the next
  sounding::sampler::Prior prior_;
  bool likelihood_ = true;
  std::vector<sounding::sampler::DataPoint> points_;
  std::vector<int> dataItemCounts_;                  // the item counts the data set went with
  std::vector<double> cost_;                         // per walker, its layers
  std::vector<int> order_;                           // the walkers as the requests carry them
  std::vector<sounding::sampler::ChainSlot> slots_;  // the walkers of a round, as sent
  std::vector<PipeRequest> stepRequests_;            // a round's, in the walkers' order
  std::vector<PipeReply> replies_;
  int requests_ = 0;
  double serverMs_ = 0;
};

// Through a connected vesk1_pipe running the sounding module; a round's step requests stream
// (ExchangeInOrder), so the workers start on the next while the client reads the last reply.
class ServerChainEngine : public RequestChainEngine {
 public:
  ServerChainEngine(Connection& connection, int timeoutMs, uint64_t seed)
      : RequestChainEngine(seed), link_(connection, timeoutMs) {}
  ClientStatus status() const { return link_.status(); }

 protected:
  bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) override {
    return link_.Exchange(request, reply, error);
  }
  bool ExchangeAll(const std::vector<PipeRequest>& requests, std::vector<PipeReply>& replies,
                   std::string& error) override {
    return link_.ExchangeAll(requests, replies, error);
  }

 private:
  ServerLink link_;
};

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_PIPE_SAMPLER_ENGINE_H
