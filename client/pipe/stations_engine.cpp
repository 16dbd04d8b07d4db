#include "client/pipe/stations_engine.h"

#include <cmath>
#include <cstring>
#include <map>
#include <utility>

#include "client/pipe/sounding_requests.h"
#include "common/sounding_request.h"

namespace vesk1::client {
namespace {

// Which answer each entry of a reply holds: model k of the call at period i of its station.
using Answers = std::vector<std::pair<size_t, size_t>>;

// A model batch being filled: its period table, its models' values and its items.
struct Batch {
  std::vector<float> table;
  std::map<float, uint32_t> index;  // period -> place in the table
  std::vector<float> values;
  std::vector<uint32_t> items;
  Answers answers;
  int models = 0;

  // How long the table would be with these periods added.
  size_t TableWith(const std::vector<double>& periods) const {
    size_t size = table.size();
    for (double p : periods) size += index.count(static_cast<float>(p)) == 0 ? 1 : 0;
    return size;
  }
};

bool Fits(const Batch& batch, size_t layers, const std::vector<double>& periods) {
  const size_t table = batch.TableWith(periods);
  return table <= static_cast<size_t>(kMaxItems) &&
         batch.items.size() + periods.size() <= static_cast<size_t>(kMaxItems) &&
         sounding::ModelBatchBytes(static_cast<long long>(layers), static_cast<long long>(table),
                                   batch.models + 1) <= kModuleDataSize;
}

void Add(Batch& batch, size_t k, const std::vector<double>& model,
         const std::vector<double>& periods) {
  for (double v : model) batch.values.push_back(static_cast<float>(v));
  for (size_t i = 0; i < periods.size(); ++i) {
    const float p = static_cast<float>(periods[i]);
    auto [at, added] = batch.index.emplace(p, static_cast<uint32_t>(batch.table.size()));
    if (added) batch.table.push_back(p);
    batch.items.push_back(sounding::ModelBatchItem(batch.models, static_cast<int>(at->second)));
    batch.answers.emplace_back(k, i);
  }
  ++batch.models;
}

// Sounding-kind requests for a model whose periods do not fit a batch of its own: periods as
// items, 255 to a request.
void AddSoundingRequests(size_t k, const std::vector<double>& model,
                         const std::vector<double>& thickness, const std::vector<double>& periods,
                         std::vector<PipeRequest>& requests, std::vector<Answers>& answers) {
  const RecurrenceModel block = LayeredModel(model, thickness);
  for (size_t start = 0; start < periods.size(); start += kMaxItems) {
    const size_t count = std::min<size_t>(kMaxItems, periods.size() - start);
    PipeRequest request = NewRequest();
    std::memcpy(request.moduleData, &block, sizeof block);
    std::vector<float> items(count);
    Answers which;
    for (size_t i = 0; i < count; ++i) {
      items[i] = static_cast<float>(periods[start + i]);
      which.emplace_back(k, start + i);
    }
    SetFloatItems(request, items);
    request.selectFirst = 1;
    requests.push_back(request);
    answers.push_back(std::move(which));
  }
}

}  // namespace

bool StationsRequestEngine::Send(const std::vector<PipeRequest>& requests,
                                 std::vector<PipeReply>& replies, std::string& error) {
  if (!ExchangeAll(requests, replies, error)) return false;
  requests_ += static_cast<int>(requests.size());
  for (const PipeReply& reply : replies) serverMs_ += reply.elapsedMs;
  return true;
}

bool StationsRequestEngine::Responses(const std::vector<size_t>& station,
                                      const std::vector<std::vector<double>>& models,
                                      std::vector<std::vector<double>>& log10Rho,
                                      std::vector<std::vector<double>>& phase, std::string& error) {
  const size_t layers = thickness_.size() + 1;
  if (station.size() != models.size()) {
    error = "the models and their stations disagree";
    return false;
  }
  log10Rho.assign(models.size(), {});
  phase.assign(models.size(), {});
  const std::vector<float> thickness(thickness_.begin(), thickness_.end());
  std::vector<PipeRequest> requests;
  std::vector<Answers> answers;
  Batch batch;
  auto flush = [&]() -> bool {
    if (batch.models == 0) return true;
    PipeRequest request;
    if (!sounding::BuildModelBatchRequest(thickness, batch.table, batch.values, batch.items,
                                          request)) {
      error = "a model batch request could not be built for these models";
      return false;
    }
    requests.push_back(request);
    answers.push_back(std::move(batch.answers));
    batch = Batch{};
    return true;
  };
  for (size_t k = 0; k < models.size(); ++k) {
    if (station[k] >= periods_.size() || models[k].size() != layers) {
      error = "a model is not one of the profile's stations on its mesh";
      return false;
    }
    const std::vector<double>& periods = periods_[station[k]];
    log10Rho[k].assign(periods.size(), 0.0);
    phase[k].assign(periods.size(), 0.0);
    if (!Fits(batch, layers, periods) && !flush()) return false;
    if (Fits(batch, layers, periods)) {
      Add(batch, k, models[k], periods);
    } else {
      AddSoundingRequests(k, models[k], thickness_, periods, requests, answers);
    }
  }
  if (!flush()) return false;
  std::vector<PipeReply> replies;
  if (!Send(requests, replies, error)) return false;
  for (size_t r = 0; r < replies.size(); ++r) {
    for (size_t e = 0; e < answers[r].size(); ++e) {
      const auto [k, i] = answers[r][e];
      ReadSoundingEntry(replies[r], e, log10Rho[k][i], phase[k][i]);
    }
  }
  return true;
}

bool StationsRequestEngine::Sensitivities(const std::vector<size_t>& station,
                                          const std::vector<std::vector<double>>& models,
                                          std::vector<std::vector<double>>& jacobians,
                                          std::string& error) {
  if (station.size() != models.size()) {
    error = "the models and their stations disagree";
    return false;
  }
  std::vector<SensitivityRequest> built;
  std::vector<size_t> owner;  // the model of each request
  jacobians.assign(models.size(), {});
  for (size_t k = 0; k < models.size(); ++k) {
    if (station[k] >= periods_.size() || models[k].size() != thickness_.size() + 1) {
      error = "a model is not one of the profile's stations on its mesh";
      return false;
    }
    const std::vector<double>& periods = periods_[station[k]];
    jacobians[k].assign(2 * periods.size() * models[k].size(), 0.0);
    for (SensitivityRequest& r : SensitivityRequests(models[k], thickness_, periods)) {
      built.push_back(std::move(r));
      owner.push_back(k);
    }
  }
  std::vector<PipeRequest> requests;
  for (const SensitivityRequest& r : built) requests.push_back(r.request);
  std::vector<PipeReply> replies;
  if (!Send(requests, replies, error)) return false;
  for (size_t r = 0; r < built.size(); ++r) {
    const size_t k = owner[r];
    StoreSensitivities(built[r], replies[r], periods_[station[k]].size(), models[k].size(),
                       jacobians[k]);
  }
  for (const std::vector<double>& jacobian : jacobians) {
    for (double v : jacobian) {
      if (!std::isfinite(v)) {
        error = "the module returned sensitivities that are not numbers";
        return false;
      }
    }
  }
  return true;
}

}  // namespace vesk1::client
