// The model blocks the client writes into the sounding module's requests.
#include "client/pipe/sounding_requests.h"

#include <gtest/gtest.h>

namespace vesk1::client {
namespace {

TEST(ToRecurrenceModel_ThreeLayers, HalfSpaceBasementConductivities) {
  const RecurrenceModel model = ToRecurrenceModel({{100, 10, 1000}, {250, 1000}});
  EXPECT_EQ(model.layerCount, 3);
  EXPECT_EQ(model.bottomMode, 2);
  const float expected[3] = {0.01f, 0.1f, 0.001f};
  for (int j = 0; j < 3; ++j) {
    EXPECT_EQ(model.conductivity[j][0], expected[j]);
    EXPECT_EQ(model.conductivity[j][1], 0.0f);
    EXPECT_EQ(model.layerFactor[j], 1.0f);
  }
  EXPECT_EQ(model.thickness[0], 250.0f);
  EXPECT_EQ(model.thickness[1], 1000.0f);
}

}  // namespace
}  // namespace vesk1::client
