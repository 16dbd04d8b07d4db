#include "client/pipe/sampler_engine.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace vesk1::client {
namespace {

namespace sp = sounding::sampler;

static_assert(sizeof(mt::ChainModel::log10Depth) == sizeof(sp::ChainState::log10Depth) &&
              sizeof(mt::ChainModel::log10Rho) == sizeof(sp::ChainState::log10Rho));
static_assert(static_cast<int>(mt::kBirth) == sp::kBirth &&
              static_cast<int>(mt::kDeath) == sp::kDeath &&
              static_cast<int>(mt::kMove) == sp::kMove &&
              static_cast<int>(mt::kChange) == sp::kChange);

sp::ChainSlot SlotOf(const mt::Walker& w) {
  sp::ChainSlot slot;
  slot.state.chain = w.model.stream;
  slot.state.step = w.model.step;
  slot.state.layers = w.model.layers;
  std::copy(w.model.log10Depth.begin(), w.model.log10Depth.end(), slot.state.log10Depth);
  std::copy(w.model.log10Rho.begin(), w.model.log10Rho.end(), slot.state.log10Rho);
  slot.controls = {w.beta, w.depthWidth, w.rhoWidth, w.birthWidth};
  return slot;
}

void TakeOutcome(const sp::ChainOutcome& out, mt::Walker& w) {
  w.model.step = out.state.step;
  w.model.layers = out.state.layers;
  std::copy_n(out.state.log10Depth, w.model.log10Depth.size(), w.model.log10Depth.begin());
  std::copy_n(out.state.log10Rho, w.model.log10Rho.size(), w.model.log10Rho.begin());
  w.misfit = out.misfit;
  w.bestMisfit = out.bestMisfit;
  for (int m = 0; m < mt::kMoveKinds; ++m) {
    w.proposed[static_cast<size_t>(m)] = out.proposed[m];
    w.accepted[static_cast<size_t>(m)] = out.accepted[m];
  }
}

// The walkers of the next request when `left` remain for `requestsLeft` requests: equal shares,
// the larger first.
size_t ShareOf(size_t left, size_t requestsLeft) {
  return (left + requestsLeft - 1) / requestsLeft;
}

// Deals `ids`, sorted by cost with the costliest first, into parts of the given sizes, laid one
// after the other in `ids`: each walker goes to the part with the least cost so far that still
// has room, and keeps its place among the walkers of its part.
void Deal(std::span<int> ids, std::span<const double> cost, std::span<const size_t> sizes) {
  std::vector<double> load(sizes.size(), 0.0);
  std::vector<size_t> filled(sizes.size(), 0);
  std::vector<int> part(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    size_t best = sizes.size();
    for (size_t p = 0; p < sizes.size(); ++p) {
      if (filled[p] < sizes[p] && (best == sizes.size() || load[p] < load[best])) best = p;
    }
    part[i] = static_cast<int>(best);
    ++filled[best];
    load[best] += cost[static_cast<size_t>(ids[i])];
  }
  std::vector<int> dealt;
  for (size_t p = 0; p < sizes.size(); ++p) {
    for (size_t i = 0; i < ids.size(); ++i) {
      if (part[i] == static_cast<int>(p)) dealt.push_back(ids[i]);
    }
  }
  std::copy(dealt.begin(), dealt.end(), ids.begin());
}

// Orders ids[first, first + count), sorted costliest first, so that its halves carry about the
// same cost, and the halves' halves, and so on: the server hands each worker a contiguous
// share of a request, so with 2, 4 or 8 workers every share then holds about the same work.
void Halve(std::vector<int>& ids, std::span<const double> cost, size_t first, size_t count) {
  if (count < 2) return;
  const size_t sizes[2] = {(count + 1) / 2, count / 2};
  Deal(std::span(ids).subspan(first, count), cost, sizes);
  Halve(ids, cost, first, sizes[0]);
  Halve(ids, cost, first + sizes[0], sizes[1]);
}

const char* StatusMeaning(int32_t status) {
  switch (status) {
    case sp::kNoData:
      return "holds no data set of this run";
    case sp::kBadChain:
      return "refused a chain's state";
    default:
      return "refused the request";
  }
}

}  // namespace

std::vector<int> BalancedOrder(std::span<const double> cost, size_t requests) {
  std::vector<int> order(cost.size());
  for (size_t w = 0; w < cost.size(); ++w) order[w] = static_cast<int>(w);
  std::stable_sort(order.begin(), order.end(), [cost](int a, int b) {
    return cost[static_cast<size_t>(a)] > cost[static_cast<size_t>(b)];
  });
  std::vector<size_t> halves;
  for (size_t r = 0, first = 0; r < requests; ++r) {
    const size_t count = ShareOf(cost.size() - first, requests - r);
    halves.push_back((count + 1) / 2);
    halves.push_back(count / 2);
    first += count;
  }
  Deal(order, cost, halves);
  for (size_t h = 0, first = 0; h < halves.size(); first += halves[h], ++h) {
    // Each half keeps the costliest-first order Deal gave it, as Halve needs.
    Halve(order, cost, first, halves[h]);
  }
  return order;
}

bool RequestChainEngine::SetProblem(const mt::SamplerProblem& problem, std::string& error) {
  const mt::SamplerPrior& p = problem.prior;
  const size_t count = problem.periods.size();
  if (count < 1 || count > static_cast<size_t>(sp::kMaxPeriods) ||
      problem.data.value.size() != 2 * count || problem.data.error.size() != 2 * count) {
    error = "the sampler takes 1 to 128 periods";
    return false;
  }
  prior_ = {p.maxLayers, static_cast<float>(p.minLog10Depth), static_cast<float>(p.maxLog10Depth),
            static_cast<float>(p.minLog10Rho), static_cast<float>(p.maxLog10Rho)};
  likelihood_ = problem.likelihood;
  points_.clear();
  for (size_t i = 0; i < count; ++i) {
    const double rhoError = problem.data.error[i], phaseError = problem.data.error[count + i];
    if (!(rhoError > 0) || !(phaseError > 0)) {
      error = "every used point needs a positive standard error";
      return false;
    }
    points_.push_back(
        {static_cast<float>(problem.periods[i]), static_cast<float>(problem.data.value[i]),
         static_cast<float>(1.0 / rhoError), static_cast<float>(problem.data.value[count + i]),
         static_cast<float>(1.0 / phaseError)});
  }
  ++dataId_;  // a new set takes a new id
  if (dataId_ == 0) ++dataId_;
  dataItemCounts_.clear();
  return true;
}

bool RequestChainEngine::Advance(std::vector<mt::Walker>& walkers, int steps, std::string& error) {
  const size_t perRequest = static_cast<size_t>(sp::ChainsPerStepRequest(prior_.maxLayers));
  if (dataId_ == 0 || perRequest == 0) {
    error = "the sampler's problem was not set";
    return false;
  }
  // Requests of equal size as far as they go (the larger first), so that few item counts occur.
  const size_t requests = (walkers.size() + perRequest - 1) / perRequest;
  OrderByCost(walkers, requests);
  slots_.clear();
  for (const int w : order_) slots_.push_back(SlotOf(walkers[static_cast<size_t>(w)]));
  stepRequests_.resize(requests);
  for (size_t r = 0, first = 0; r < requests; ++r) {
    const size_t count = ShareOf(walkers.size() - first, requests - r);
    PipeRequest& request = stepRequests_[r];
    if (!sp::BuildStepRequest(dataId_, seed_, steps, prior_.maxLayers,
                              std::span(slots_).subspan(first, count), request)) {
      error = "the walkers do not fit a step request";
      return false;
    }
    // A worker answers only with the data set, and a chain's entries may lie with several
    // workers: a worker without the set would leave its entries of a chain empty while another
    // answers the chain's status. So every worker that has a share of this request must have
    // had one of a data request: the server splits requests of one item count alike.
    if (std::find(dataItemCounts_.begin(), dataItemCounts_.end(), request.itemCount) ==
        dataItemCounts_.end()) {
      if (!SendData(request.itemCount, error)) return false;
      dataItemCounts_.push_back(request.itemCount);
    }
    first += count;
  }
  if (!Send(stepRequests_, replies_, error)) return false;
  for (size_t r = 0, first = 0; r < requests; ++r) {
    const size_t count = ShareOf(walkers.size() - first, requests - r);
    if (!TakeStep(replies_[r], walkers, first, count, steps, error)) return false;
    first += count;
  }
  return true;
}

// A walker's steps cost about its layers each. Which worker advances a walker never changes its
// path.
void RequestChainEngine::OrderByCost(const std::vector<mt::Walker>& walkers, size_t requests) {
  cost_.clear();
  for (const mt::Walker& w : walkers) {
    // A walker not yet started draws its layers from the prior: half the most, on average.
    cost_.push_back(w.model.layers > 0 ? w.model.layers : 0.5 * (prior_.maxLayers + 1));
  }
  order_ = BalancedOrder(cost_, requests);
}

bool RequestChainEngine::SwapAccepted(uint32_t round, uint32_t pair, double betaA, double misfitA,
                                      double betaB, double misfitB) {
  return sp::SwapAccepted(seed_, round, pair, betaA, misfitA, betaB, misfitB);
}

bool RequestChainEngine::ExchangeAll(const std::vector<PipeRequest>& requests,
                                     std::vector<PipeReply>& replies, std::string& error) {
  replies.resize(requests.size());
  for (size_t k = 0; k < requests.size(); ++k) {
    if (!Exchange(requests[k], replies[k], error)) return false;
  }
  return true;
}

bool RequestChainEngine::Send(const std::vector<PipeRequest>& requests,
                              std::vector<PipeReply>& replies, std::string& error) {
  if (!ExchangeAll(requests, replies, error)) return false;
  requests_ += static_cast<int>(requests.size());
  for (const PipeReply& reply : replies) serverMs_ += reply.elapsedMs;
  return true;
}

// The data set, with the item count of the step requests it serves: only workers with a share
// of a request see it.
bool RequestChainEngine::SendData(int itemCount, std::string& error) {
  const std::vector<PipeRequest> requests =
      sp::DataRequests(dataId_, prior_, likelihood_, points_, itemCount);
  if (requests.empty()) {
    error = "the prior or the data cannot be sent to the workers";
    return false;
  }
  std::vector<PipeReply> replies;
  if (!Send(requests, replies, error)) return false;
  for (int k = 0; k < itemCount; ++k) {
    if (sp::ReadDataAck(replies.back(), k).readyId != dataId_) {
      error = "a worker refused the sampler's data (a value it cannot use)";
      return false;
    }
  }
  return true;
}

bool RequestChainEngine::TakeStep(const PipeReply& reply, std::vector<mt::Walker>& walkers,
                                  size_t first, size_t count, int steps, std::string& error) {
  const std::span<const sp::ChainSlot> sent = std::span(slots_).subspan(first, count);
  const std::vector<sp::ChainOutcome> outcomes = sp::ReadStepReply(reply, prior_.maxLayers, sent);
  for (size_t c = 0; c < count; ++c) {
    const sp::ChainOutcome& out = outcomes[c];
    const uint32_t chain = sent[c].state.chain;
    if (out.status != 0) {
      error = std::string("a worker ") + StatusMeaning(out.status) + " (chain " +
              std::to_string(chain) + ")";
      return false;
    }
    if (out.state.step != sent[c].state.step + static_cast<uint32_t>(steps)) {
      error = "a worker answered chain " + std::to_string(chain) + " out of step";
      return false;
    }
    TakeOutcome(out, walkers[static_cast<size_t>(order_[first + c])]);
  }
  return true;
}

}  // namespace vesk1::client
