// What each worker's module instance keeps for the sampler's kinds (laid out in
// common/sounding_request.h and common/sampler_request.h) and how it answers them.
#pragma once

#include <vesk1/module.h>

#include <cstdint>

#include "common/sampler_request.h"
#include "sampler.h"

namespace vesk1::sounding::sampler {

// What one worker's module instance keeps between requests, and answers with.
class SamplerMemory {
 public:
  // Answers a share of a data request or a step request into `resultBuffer`.
  void AnswerData(const PipeRequest& request, unsigned char* resultBuffer);
  void AnswerSteps(const PipeRequest& request, unsigned char* resultBuffer) const;

  uint32_t readyId() const { return readyId_; }

 private:
  bool SameSet(const DataBlockHeader& h) const;
  void AnswerChain(const StepBlockHeader& h, const unsigned char* record,
                   unsigned char* answer) const;

  Problem problem_;       // the complete data set
  uint32_t readyId_ = 0;  // its id, 0 for none
  // The set being assembled from data requests.
  DataBlockHeader assembling_{};
  DataPoint points_[kMaxPeriods];
  bool received_[kMaxPeriods] = {};
  int receivedCount_ = 0;
};

}  // namespace vesk1::sounding::sampler
