// Trans-dimensional Bayesian sampling of layered earths from one sounding, after Green (1995),
// Malinverno (2002) and Bodin and Sambridge (2009), with parallel tempering (Sambridge 2014):
// the run as a client conducts it. The chains' steps (births, deaths, interface moves and
// resistivity changes, each accepted or not) are taken by a ChainEngine, the server's workers
// or a test's own process; this file keeps the ladders of temperatures, decides the exchanges
// between neighbouring rungs, tunes the proposal widths during burn-in and keeps every thin-th
// state of the chains at temperature 1.
//
// A run: `chains` ladders of `temperatures` rungs, temperatures geometric from 1 to `hottest`,
// one walker on each rung (chains x temperatures walkers, each with its own random stream, so
// the samples never depend on how the engine spreads them). In each round every walker takes
// `thin` steps at its rung's temperature with its rung's widths; then the walker on each
// ladder's temperature-1 rung is kept as a sample (after burn-in), and neighbouring rungs of
// each ladder offer to exchange walkers (even pairs in even rounds, odd pairs in odd ones).
// During burn-in the widths of interface moves and resistivity changes are tuned every few
// rounds, rung by rung, toward a quarter to a third of the moves accepted; then they stay.
#ifndef VESK1_MT_SAMPLER_H
#define VESK1_MT_SAMPLER_H

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mt/earth.h"
#include "mt/misfit.h"

namespace vesk1::mt {

// The prior: k layers uniform over 1..maxLayers (the half-space included), the k - 1
// interfaces uniform in log10 depth and ordered inside the depth range, each layer's log10
// resistivity uniform in its range.
struct SamplerPrior {
  int maxLayers = 20;
  double minLog10Depth = 1, maxLog10Depth = 5;  // metres
  double minLog10Rho = -1, maxLog10Rho = 5;     // ohm-metres
};

// What the walkers sample: the prior, and the sounding's used points with their errors
// (FitData: log10 apparent resistivity, then phase in degrees) at their periods (seconds).
struct SamplerProblem {
  SamplerPrior prior;
  std::vector<double> periods;
  FitData data;
  bool likelihood = true;  // false: the data are ignored and the walkers sample the prior
};

enum SamplerMove { kBirth, kDeath, kMove, kChange, kMoveKinds };

// A walker's earth, in single precision as the engines carry it.
struct ChainModel {
  uint32_t stream = 0;  // the walker's random stream
  uint32_t step = 0;    // steps taken
  int layers = 0;       // k; 0 at step 0: the first steps start from a draw of the prior
  std::array<float, kMaxLayers - 1> log10Depth{};  // the k - 1 interfaces, ascending
  std::array<float, kMaxLayers> log10Rho{};        // the k layers, top down
};

// One walker as an engine advances it: its earth and how it moves, and on return what its
// steps did.
struct Walker {
  ChainModel model;
  float beta = 1;         // 1 / temperature
  float depthWidth = 0;   // standard deviation of an interface move, log10 metres
  float rhoWidth = 0;     // of a resistivity change, log10 ohm-metres
  float birthWidth = 0;   // of a born layer's value about the layer it splits
  double misfit = 0;      // on return: chi^2 of the earth (0 without the likelihood)
  double bestMisfit = 0;  // the least chi^2 passed through
  std::array<int, kMoveKinds> proposed{};  // moves of each kind in these steps
  std::array<int, kMoveKinds> accepted{};
};

// Takes the walkers' steps. The engine owns the run's seed: its streams draw every proposal and
// every exchange of temperatures, so a run depends only on the seed, the problem and the
// options.
class ChainEngine {
 public:
  virtual ~ChainEngine() = default;
  // Hands the problem to whatever takes the steps; false with `error` set when it could not.
  virtual bool SetProblem(const SamplerProblem& problem, std::string& error) = 0;
  // Advances every walker `steps` steps (1..4096) at its beta with its widths, filling in its
  // misfit, best misfit and tallies. False with `error` set when a walker could not be
  // advanced; the walkers are then unspecified.
  virtual bool Advance(std::vector<Walker>& walkers, int steps, std::string& error) = 0;
  // Whether the walkers of the pair `pair` exchange temperatures after round `round`: with
  // probability min(1, exp((betaA - betaB) (misfitA - misfitB) / 2)), drawn from the run's
  // exchange stream.
  virtual bool SwapAccepted(uint32_t round, uint32_t pair, double betaA, double misfitA,
                            double betaB, double misfitB) = 0;
};

struct SamplerOptions {
  int chains = 4;        // ladders, each with one walker at temperature 1
  int temperatures = 4;  // rungs per ladder
  double hottest = 100;  // the top rung's temperature
  long steps = 100000;   // per walker, burn-in included
  long burnIn = 25000;   // of them
  int thin = 20;         // steps per round: one sample per ladder and round is kept
};

// A sample kept from a ladder's temperature-1 rung.
struct SampledEarth {
  uint32_t step = 0;             // the walker's steps at the time (burn-in included)
  double misfit = 0;             // chi^2
  std::vector<double> depth;     // metres, the k - 1 interfaces from the top down
  std::vector<double> log10Rho;  // the k layers, top down, half-space last
};

// Moves proposed and accepted, by kind.
struct MoveTally {
  std::array<long long, kMoveKinds> proposed{}, accepted{};
};

// Where a run stands, after each round.
struct SamplerProgress {
  long stepsDone = 0, stepsTotal = 0;  // per walker
  long long forwardRuns = 0;           // steps of all walkers so far, one forward run each
  bool burningIn = true;
  // In this phase (burn-in, or the sampling after it): the temperature-1 walkers' moves, and
  // the exchanges offered and taken on all rungs.
  MoveTally coldMoves;
  long long swapsOffered = 0, swapsTaken = 0;
  double bestMisfit = 0;  // the least chi^2 any walker passed through in the whole run
};

// Each rung's temperature and its widths at the end of the run (frozen after burn-in).
struct RungWidths {
  double temperature = 1;
  float depthWidth = 0, rhoWidth = 0, birthWidth = 0;
};

struct SamplerResult {
  std::vector<std::vector<SampledEarth>> chains;  // kept samples of each ladder, in order
  SamplerProgress last;
  std::vector<RungWidths> rungs;
  std::string error;  // empty unless the options were refused or the engine failed
};

// "" when the options and the prior can be run, otherwise what is wrong with them.
std::string CheckSampler(const SamplerProblem& problem, const SamplerOptions& options);

// Runs the sampler. `progress` is called after every round.
SamplerResult RunSampler(const SamplerProblem& problem, ChainEngine& engine,
                         const SamplerOptions& options,
                         const std::function<void(const SamplerProgress&)>& progress);

}  // namespace vesk1::mt

#endif  // VESK1_MT_SAMPLER_H
