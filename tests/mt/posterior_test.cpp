// What the kept samples say: convergence measures against values computed independently (in
// double precision with Python's statistics.NormalDist), and the points, intervals, histograms
// and files of a few hand-made earths.
#include "mt/posterior.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace vesk1::mt {
namespace {

TEST(SplitRhat_FixedChains, MatchTheIndependentComputation) {
  struct Row {
    const char* name;
    ChainValues chains;
    double rhat, ess;
  };
  const Row rows[] = {
      // Two chains of one distribution: the estimate claims at most S log10 S.
      {"mixed",
       {{0.3, 1.2, 0.8, 2.0, 1.5, 0.1, 0.9, 1.1, 2.2, 0.4},
        {1.0, 0.7, 1.9, 0.2, 1.4, 1.6, 0.5, 2.1, 1.3, 0.6}},
       0.9150499416460821,
       26.020599913279625},
      {"shifted",
       {{0.3, 1.2, 0.8, 2.0, 1.5, 0.1, 0.9, 1.1, 2.2, 0.4},
        {3.0, 2.7, 3.9, 2.2, 3.4, 3.6, 2.5, 4.1, 3.3, 2.6}},
       1.7120886319160973,
       4.319018480188552},
      // Each chain's halves disagree, as only splitting shows.
      {"trending",
       {{1, 2, 3, 4, 5, 6, 7, 8}, {2, 3, 4, 5, 6, 7, 8, 9}},
       1.8221332742257916,
       3.2708639134392437},
      // Layer counts: ties share their mean rank.
      {"ties",
       {{3, 3, 4, 3, 5, 4, 4, 3}, {4, 4, 3, 3, 4, 5, 3, 4}},
       1.0210236704276836,
       19.265919722494797},
      // A pair of autocorrelations larger than the pair before counts as that one.
      {"rising pair",
       {{3.0, 3.0, 2.2, 0.6, 3.0, 3.0, 2.8, 1.2, 0.9, 0.0, 1.1, 1.3},
        {0.5, 2.9, 0.4, 0.8, 0.2, 1.0, 0.9, 2.6, 1.9, 1.8, 0.0, 1.9}},
       1.262989297938571,
       11.979676417219943},
  };
  for (const Row& row : rows) {
    EXPECT_NEAR(SplitRhat(row.chains), row.rhat, 1e-12) << row.name;
    EXPECT_NEAR(EffectiveSampleSize(row.chains), row.ess, 1e-9) << row.name;
  }
}

TEST(SplitRhat_Degenerate, OneForEqualValuesNanForShortOrUnequalChains) {
  const ChainValues same = {{2, 2, 2, 2}, {2, 2, 2, 2}};
  EXPECT_EQ(SplitRhat(same), 1.0);
  EXPECT_EQ(EffectiveSampleSize(same), 8.0);
  EXPECT_EQ(SplitRhat({{1, 1, 1, 1}, {2, 2, 2, 2}}), INFINITY);
  EXPECT_TRUE(std::isnan(SplitRhat({{1, 2, 3}, {1, 2, 3}})));
  EXPECT_TRUE(std::isnan(EffectiveSampleSize({{1, 2, 3, 4}, {1, 2, 3, 4, 5}})));
  EXPECT_TRUE(std::isnan(SplitRhat({})));
}

TEST(Quantile_FourValues, InterpolatesBetweenOrderStatistics) {
  const std::vector<double> values = {4, 1, 3, 2};
  const double expected[][2] = {{0.5, 2.5}, {0.05, 1.15}, {0.95, 3.85}, {0, 1}, {1, 4}};
  for (const auto& e : expected) {
    std::vector<double> copy = values;
    EXPECT_DOUBLE_EQ(Quantile(copy, e[0]), e[1]) << e[0];
  }
  std::vector<double> none;
  EXPECT_TRUE(std::isnan(Quantile(none, 0.5)));
}

// Three earths: a conductor from 100 to 1000 m, a uniform half-space, a conductor below 300 m.
std::vector<std::vector<SampledEarth>> ThreeEarths() {
  return {{{10, 1.5, {100, 1000}, {2, 1, 3}}, {20, 2.5, {}, {-0.30103}}},
          {{10, 3.5, {300}, {2, 1}}}};
}

TEST(Log10RhoAt_Interfaces, TheUpperLayerHoldsItsBottom) {
  const SampledEarth earth{0, 0, {100, 1000}, {2, 1, 3}};
  const double expected[][2] = {{50, 2}, {100, 2}, {101, 1}, {1000, 1}, {5000, 3}};
  for (const auto& e : expected) EXPECT_EQ(Log10RhoAt(earth, e[0]), e[1]) << e[0];
}

TEST(ConductorTop_ThreeEarths, MedianAndTheFiveAndNinetyFivePercentPoints) {
  const auto chains = ThreeEarths();
  const DepthInterval top = ConductorTop(AllSamples(chains));
  // Tops 100, 0 and 300 m.
  EXPECT_DOUBLE_EQ(top.median, 100);
  EXPECT_DOUBLE_EQ(top.low, 10);
  EXPECT_DOUBLE_EQ(top.high, 280);
}

TEST(Histograms_ThreeEarths, CountInterfacesInHalfOpenBinsAndLayerCounts) {
  const auto chains = ThreeEarths();
  const std::vector<const SampledEarth*> all = AllSamples(chains);
  // log10 depths 2, 3 and 2.48: bins [1.5, 2.5), [2.5, 3); 3 lies past the last edge.
  EXPECT_EQ(InterfaceHistogram(all, {1.5, 2.5, 3.0}), (std::vector<long>{2, 0}));
  EXPECT_EQ(InterfaceHistogram(all, {2.0, 2.9, 3.1}), (std::vector<long>{2, 1}));
  EXPECT_EQ(LayerCountHistogram(all, 4), (std::vector<long>{1, 1, 1, 0}));
}

// Bins 10 to 100 and 100 to 1000 m, valued at their middles, 31.6 and 316 m.
TEST(DensityOf_ThreeEarths, SharesOfTheValuesAtEachBinsMiddle) {
  const auto chains = ThreeEarths();
  const DensityImage image = DensityOf(AllSamples(chains), {1, 2, 3}, {-1, 0.5, 1.5, 2.5});
  ASSERT_EQ(image.share.size(), 2u);
  EXPECT_EQ(image.share[0], (std::vector<double>{1 / 3.0, 0, 2 / 3.0}));
  EXPECT_EQ(image.share[1], (std::vector<double>{1 / 3.0, 2 / 3.0, 0}));
}

TEST(ProfileCsv_ThreeEarths, PointsOfLog10ResistivityPerDepth) {
  const auto chains = ThreeEarths();
  const DepthProfile profile = ProfileAt(AllSamples(chains), {50, 500});
  // At 50 m: 2, -0.30103, 2; at 500 m: 1, -0.30103, 1.
  EXPECT_EQ(ProfileCsv(profile),
            "depth_m,p05_log10_rho,p16_log10_rho,p50_log10_rho,p84_log10_rho,p95_log10_rho\n"
            "50,-0.070927,0.4353,2,2,2\n"
            "500,-0.170927,0.1153,1,1,1\n");
}

TEST(SamplesCsv_ThreeEarths, OneLinePerSampleWithEmptyColumnsBeyondItsLayers) {
  EXPECT_EQ(SamplesCsv(ThreeEarths(), 3),
            "chain,step,layers,chi_squared,depth_1_m,depth_2_m,rho_1_ohm_m,rho_2_ohm_m,"
            "rho_3_ohm_m\n"
            "0,10,3,1.5,100,1000,100,10,1000\n"
            "0,20,1,2.5,,,0.5,,\n"
            "1,10,2,3.5,300,,100,10,\n");
}

// Misfits of the "trending" row above and layer counts of the "ties" row, every conductor's top
// at 100 m.
TEST(PosteriorSummary_TrendingMisfit, WarnsAndGivesTheIntervals) {
  const double misfit[2][8] = {{1, 2, 3, 4, 5, 6, 7, 8}, {2, 3, 4, 5, 6, 7, 8, 9}};
  const int layers[2][8] = {{3, 3, 4, 3, 5, 4, 4, 3}, {4, 4, 3, 3, 4, 5, 3, 4}};
  std::vector<std::vector<SampledEarth>> chains(2);
  for (int c = 0; c < 2; ++c) {
    for (int k = 0; k < 8; ++k) {
      const std::vector<double> depth = {100, 1000, 2000, 3000}, rho = {2, 1, 3, 3, 3};
      const auto n = static_cast<std::ptrdiff_t>(layers[c][k]);
      chains[c].push_back({0,
                           misfit[c][k],
                           {depth.begin(), depth.begin() + n - 1},
                           {rho.begin(), rho.begin() + n}});
    }
  }
  EXPECT_EQ(PosteriorSummary(chains),
            (std::vector<std::string>{
                "R-hat: misfit 1.822, layers 1.021",
                "effective sample size: misfit 3, layers 19, of 16 samples",
                "warning: R-hat above 1.1, the chains disagree:",
                "sample longer, or with more temperatures", "layers: median 4, 5-95 % 3 to 5",
                "most conductive layer's top: median 100 m, 5-95 % 100 to 100 m"}));
  chains[1] = chains[0];
  chains[0].resize(3);
  chains[1].resize(3);
  EXPECT_EQ(PosteriorSummary(chains)[0],
            "too few samples per chain (3) for R-hat: keep at least 4");
}

TEST(LogSpacedDepths_ThreeDecades, EndsIncluded) {
  const std::vector<double> d = LogSpacedDepths(1, 4, 4);
  ASSERT_EQ(d.size(), 4u);
  EXPECT_DOUBLE_EQ(d[0], 10);
  EXPECT_DOUBLE_EQ(d[1], 100);
  EXPECT_DOUBLE_EQ(d[3], 10000);
}

}  // namespace
}  // namespace vesk1::mt
