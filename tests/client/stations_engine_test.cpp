// The profile's engine, its requests answered by the sounding module's own computation in this
// process: models of stations with different periods share model-batch requests, and every
// answer equals the one engine of that station alone.
#include "client/pipe/stations_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/fdll_loader.h"
#include "in_process_engine.h"
#include "mt/mesh.h"
#include "tests/fixtures/loaded_fdll.h"

namespace vesk1::client {
namespace {

using test::Fdll;
using test::LogPeriods;

TEST(StationsRequestEngine_ThreeStations, AnswersOfEachStationsOwnEngine) {
  ASSERT_NE(Fdll().recur, nullptr) << Fdll().error;
  // 30 periods; the same with a band of four left out; 20 others of their own.
  const std::vector<double> a = LogPeriods(0.001, 1000, 30);
  std::vector<double> b = a;
  b.erase(b.begin() + 14, b.begin() + 18);
  const std::vector<double> c = LogPeriods(0.0123, 456, 20);
  const std::vector<std::vector<double>> periods = {a, b, c};
  const std::vector<double> thickness = mt::GeometricThicknesses(30, 20, 20000);
  std::vector<std::vector<double>> models;
  for (int m = 0; m < 6; ++m) {
    models.emplace_back();
    for (int j = 0; j < 30; ++j) models.back().push_back(2.0 + std::sin(j / (3.0 + m)));
  }
  const std::vector<size_t> stations = {0, 1, 2, 0, 1, 2};
  test::InProcessStationsEngine engine(Fdll().recur, periods, thickness);
  std::vector<std::vector<double>> rho, phase, jacobians;
  std::string error;
  ASSERT_TRUE(engine.Responses(stations, models, rho, phase, error)) << error;
  // 152 answers from one table of 50 periods and six models: one request.
  EXPECT_EQ(engine.requests(), 1);
  ASSERT_TRUE(engine.Sensitivities({0, 1, 2}, {models[0], models[1], models[2]}, jacobians, error))
      << error;
  // 900, 780 and 600 period-and-layer pairs, 255 to a request: 4 + 4 + 3 more.
  EXPECT_EQ(engine.requests(), 12);
  for (size_t k = 0; k < models.size(); ++k) {
    test::InProcessEngine alone(Fdll().recur, periods[stations[k]], thickness);
    std::vector<std::vector<double>> r, p;
    ASSERT_TRUE(alone.ResponsesOfMany({models[k]}, r, p, error)) << error;
    EXPECT_EQ(rho[k], r[0]) << k;
    EXPECT_EQ(phase[k], p[0]) << k;
    if (k < 3) {
      std::vector<double> j;
      ASSERT_TRUE(alone.Sensitivities(models[k], j, error)) << error;
      EXPECT_EQ(jacobians[k], j) << k;
    }
  }
  EXPECT_FALSE(engine.Responses({3}, {models[0]}, rho, phase, error));
  EXPECT_EQ(error, "a model is not one of the profile's stations on its mesh");
}

}  // namespace
}  // namespace vesk1::client
