#include "client/pipe/server_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "client/pipe/sounding_requests.h"
#include "common/sounding_request.h"

namespace vesk1::client {

bool RequestEngine::Send(const PipeRequest& request, PipeReply& reply, std::string& error) {
  if (!Exchange(request, reply, error)) return false;
  ++requests_;
  serverMs_ += reply.elapsedMs;
  return true;
}

bool RequestEngine::Responses(const std::vector<double>& model, std::vector<double>& log10Rho,
                              std::vector<double>& phase, std::string& error) {
  const RecurrenceModel block = LayeredModel(model, thickness_);
  log10Rho.assign(periods_.size(), 0.0);
  phase.assign(periods_.size(), 0.0);
  for (size_t start = 0; start < periods_.size(); start += kMaxItems) {
    const size_t count = std::min<size_t>(kMaxItems, periods_.size() - start);
    PipeRequest request = NewRequest();
    std::memcpy(request.moduleData, &block, sizeof block);
    std::vector<float> items(count);
    for (size_t k = 0; k < count; ++k) items[k] = static_cast<float>(periods_[start + k]);
    SetFloatItems(request, items);
    request.selectFirst = 1;
    PipeReply reply;
    if (!Send(request, reply, error)) return false;
    for (size_t k = 0; k < count; ++k) {
      ReadSoundingEntry(reply, k, log10Rho[start + k], phase[start + k]);
    }
  }
  return true;
}

bool RequestEngine::ResponsesOfMany(const std::vector<std::vector<double>>& models,
                                    std::vector<std::vector<double>>& log10Rho,
                                    std::vector<std::vector<double>>& phase, std::string& error) {
  const size_t p = periods_.size();
  const int capacity =
      sounding::ModelBatchCapacity(static_cast<int>(thickness_.size()) + 1, static_cast<int>(p));
  if (!batches_ || capacity < 1) {
    return ForwardEngine::ResponsesOfMany(models, log10Rho, phase, error);
  }
  const std::vector<float> thickness(thickness_.begin(), thickness_.end());
  const std::vector<float> periods(periods_.begin(), periods_.end());
  log10Rho.assign(models.size(), std::vector<double>(p));
  phase.assign(models.size(), std::vector<double>(p));
  std::vector<float> values;
  for (size_t first = 0; first < models.size(); first += static_cast<size_t>(capacity)) {
    const size_t count = std::min(static_cast<size_t>(capacity), models.size() - first);
    values.clear();
    for (size_t m = first; m < first + count; ++m) {
      for (double v : models[m]) values.push_back(static_cast<float>(v));
    }
    PipeRequest request;
    if (!sounding::BuildModelBatchRequest(thickness, periods, values, request)) {
      error = "a model batch request could not be built for these models";
      return false;
    }
    PipeReply reply;
    if (!Send(request, reply, error)) return false;
    for (size_t m = 0; m < count; ++m) {
      for (size_t i = 0; i < p; ++i) {
        ReadSoundingEntry(reply, m * p + i, log10Rho[first + m][i], phase[first + m][i]);
      }
    }
  }
  return true;
}

bool RequestEngine::Sensitivities(const std::vector<double>& model, std::vector<double>& jacobian,
                                  std::string& error) {
  const size_t p = periods_.size(), n = model.size();
  jacobian.assign(2 * p * n, 0.0);
  for (const SensitivityRequest& r : SensitivityRequests(model, thickness_, periods_)) {
    PipeReply reply;
    if (!Send(r.request, reply, error)) return false;
    StoreSensitivities(r, reply, p, n, jacobian);
  }
  for (double v : jacobian) {
    if (!std::isfinite(v)) {
      error = "the module returned sensitivities that are not numbers";
      return false;
    }
  }
  return true;
}

}  // namespace vesk1::client
