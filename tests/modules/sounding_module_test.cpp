#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif
#include <gtest/gtest.h>
#include <vesk1/fdll.h>
#include <vesk1/module.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/sampler_request.h"
#include "common/sounding_request.h"
#include "response_engine.h"
#include "sampler.h"
#include "sampler_rounds.h"

namespace vesk1::test {
namespace {

namespace fs = std::filesystem;

constexpr double kMu = 1.2566359828269924e-6;
constexpr double kPi = 3.14159265358979323846;

struct Layer {
  float resistivity;  // ohm-metres
  float thickness;    // metres; not read for the basement
};

RecurrenceModel HalfSpaceBasedModel(const std::vector<Layer>& layers) {
  RecurrenceModel model;
  std::memset(&model, 0, sizeof model);
  model.layerCount = static_cast<int32_t>(layers.size());
  model.bottomMode = 2;
  for (size_t j = 0; j < layers.size(); ++j) {
    model.thickness[j] = layers[j].thickness;
    model.conductivity[j][0] = 1.0f / layers[j].resistivity;
    model.layerFactor[j] = 1.0f;
  }
  return model;
}

// Loading a module as the server does on this system: the file names, a fresh instance per
// path, entries looked up by name.
#if defined(_WIN32)
constexpr const char* kModuleFile = "vesk1_chzd.dll";
constexpr const char* kFdllFile = "vesk1_fdll.dll";
void* OpenModule(const fs::path& path) {
  return reinterpret_cast<void*>(::LoadLibraryW(path.wstring().c_str()));
}
void* FindEntry(void* module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}
void CloseModule(void* module) {
  ::FreeLibrary(static_cast<HMODULE>(module));
}
unsigned long ProcessId() {
  return ::GetCurrentProcessId();
}
#else
constexpr const char* kModuleFile = "vesk1_chzd.so";
constexpr const char* kFdllFile = "vesk1_fdll.so";
void* OpenModule(const fs::path& path) {
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* FindEntry(void* module, const char* name) {
  return ::dlsym(module, name);
}
void CloseModule(void* module) {
  ::dlclose(module);
}
unsigned long ProcessId() {
  return static_cast<unsigned long>(::getpid());
}
#endif

struct Point {
  float resistivity;
  float phase;
};

// A worker directory of its own holding copies of the module and (optionally) the library,
// with the module loaded from there and initialised, as the server does for each worker.
class Worker {
 public:
  explicit Worker(bool withLibrary) {
    // The folder must be new for certain: process ids come back (wine soon reuses them), and a
    // folder left behind may hold a library that a worker without one must not find. So its
    // name carries a random token, and a folder that exists all the same is refused.
    static int counter = 0;
    directory_ = fs::temp_directory_path() /
                 ("vesk1_module_test_" + std::to_string(ProcessId()) + "_" +
                  std::to_string(++counter) + "_" + std::to_string(std::random_device()()));
    if (!fs::create_directory(directory_)) {
      ADD_FAILURE() << directory_ << " exists already";
      directory_.clear();
      return;
    }
    fs::copy_file(VESK1_CHZD_FILE, directory_ / kModuleFile);
    if (withLibrary) fs::copy_file(VESK1_FDLL_FILE, directory_ / kFdllFile);
    handle_ = OpenModule(directory_ / kModuleFile);
    if (handle_ == nullptr) return;
    load_ = reinterpret_cast<ModuleLoadEntry>(FindEntry(handle_, VESK1_MODULE_LOAD_NAME));
    compute_ = reinterpret_cast<ModuleComputeEntry>(FindEntry(handle_, VESK1_MODULE_COMPUTE_NAME));
    // With its trailing separator, as the server hands it over.
    const std::string workerDirectory =
        directory_.string() + static_cast<char>(fs::path::preferred_separator);
    if (load_ != nullptr) load_(workerDirectory.c_str());
  }
  ~Worker() {
    if (handle_ != nullptr) CloseModule(handle_);
    std::error_code ignored;
    fs::remove_all(directory_, ignored);
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  bool Ready() const { return compute_ != nullptr; }
  const fs::path& Directory() const { return directory_; }

  // Runs CHZD on one share with the result buffer in `position` (0, 1, 2) and returns the
  // first `read` entries of the buffer.
  std::vector<Point> Run(const RecurrenceModel& model, const std::vector<float>& periods,
                         int position = 0, std::optional<int> itemCount = {}, int read = -1) {
    PipeRequest request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(request.moduleData, &model, sizeof model);
    request.magic = RecordMagic;
    request.itemCount = itemCount.value_or(static_cast<int32_t>(periods.size()));
    std::memcpy(request.items, periods.data(), periods.size() * sizeof(float));
    return RunRequest(request, position, read >= 0 ? read : static_cast<int>(periods.size()));
  }

  // Runs CHZD on `request` as a worker's share and returns the first `read` entries.
  std::vector<Point> RunRequest(const PipeRequest& request, int position, int read) {
    auto slot = std::make_unique<WorkerSlot>();
    std::memset(slot.get(), 0, sizeof *slot);
    slot->request = request;
    // An exactly sized buffer, so a write past its end shows under AddressSanitizer.
    auto buffer = std::make_unique<unsigned char[]>(kResultBufferSize);
    std::memset(buffer.get(), 0, kResultBufferSize);
    void* positions[3] = {nullptr, nullptr, nullptr};
    positions[position] = buffer.get();
    slot->resultBuffer = buffer.get();
    compute_(positions[0], positions[1], positions[2], slot.get());
    std::vector<Point> points(read);
    std::memcpy(points.data(), buffer.get(), points.size() * sizeof(Point));
    return points;
  }

 private:
  fs::path directory_;
  void* handle_ = nullptr;
  ModuleLoadEntry load_ = nullptr;
  ModuleComputeEntry compute_ = nullptr;
};

std::vector<float> LogPeriods(double from, double to, int count) {
  std::vector<float> periods;
  for (int i = 0; i < count; ++i) {
    periods.push_back(static_cast<float>(from * std::pow(to / from, i / (count - 1.0))));
  }
  return periods;
}

// Impedance of a layered earth by the usual top-down statement of the bottom-up recursion:
// intrinsic impedances z_j = sqrt(i omega mu rho_j) (phase measured with the opposite time
// sign) and Z_j = z_j (Z_(j+1) + z_j tanh(k_j h_j)) / (z_j + Z_(j+1) tanh(k_j h_j)).
// Written with its own small complex type so no arithmetic is shared with the module.
struct Cx {
  double re, im;
};
Cx operator+(Cx a, Cx b) {
  return {a.re + b.re, a.im + b.im};
}
Cx operator*(Cx a, Cx b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}
Cx operator/(Cx a, Cx b) {
  const double d = b.re * b.re + b.im * b.im;
  return {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
}
Cx Root(Cx z) {
  const double r = std::hypot(z.re, z.im);
  const double re = std::sqrt((r + z.re) / 2);
  const double im = std::copysign(std::sqrt((r - z.re) / 2), z.im);
  return {re, im};
}
Cx Tanh(Cx z) {
  // tanh(x + iy) = (sinh 2x + i sin 2y) / (cosh 2x + cos 2y)
  const double d = std::cosh(2 * z.re) + std::cos(2 * z.im);
  return {std::sinh(2 * z.re) / d, std::sin(2 * z.im) / d};
}

Point ReferencePoint(const std::vector<Layer>& layers, double period) {
  const double omega = 2 * kPi / static_cast<double>(static_cast<float>(period));
  const int n = static_cast<int>(layers.size());
  auto intrinsic = [&](int j) {
    const double rho = 1.0 / static_cast<double>(1.0f / layers[j].resistivity);
    return Root({0.0, omega * kMu * rho});
  };
  auto wavenumber = [&](int j) {
    const double sigma = static_cast<double>(1.0f / layers[j].resistivity);
    return Root({0.0, omega * kMu * sigma});
  };
  Cx z = intrinsic(n - 1);
  for (int j = n - 2; j >= 0; --j) {
    const Cx zj = intrinsic(j);
    const Cx t = Tanh(wavenumber(j) * Cx{static_cast<double>(layers[j].thickness), 0});
    z = zj * (z + zj * t) / (zj + z * t);
  }
  return {static_cast<float>((z.re * z.re + z.im * z.im) / (omega * kMu)),
          static_cast<float>(std::atan2(z.im, z.re) * 180 / kPi)};
}

void ExpectRelative(float actual, double expected, double tolerance, const char* what) {
  EXPECT_LE(std::abs(actual - expected), tolerance * std::abs(expected))
      << what << ": " << actual << " expected " << expected;
}

TEST(CHZD_HalfSpace, ItsResistivityAnd45DegreesAtEveryPeriod) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  const std::vector<float> periods = LogPeriods(1e-3, 1e4, 40);
  for (float rho : {0.3f, 1.0f, 100.0f, 5000.0f}) {
    const std::vector<Point> points = worker.Run(HalfSpaceBasedModel({{rho, 0}}), periods);
    for (size_t i = 0; i < points.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "rho " << rho << " period " << periods[i]);
      ExpectRelative(points[i].resistivity, rho, 1e-5, "resistivity");
      ExpectRelative(points[i].phase, 45.0, 1e-5, "phase");
    }
  }
}

// Short periods see only the top layer, long periods only the basement; in between, the phase
// rises above 45 degrees over a more conductive basement and falls below over a more
// resistive one.
TEST(CHZD_TwoLayers, TopAtShortPeriodsBasementAtLongPeriods) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  struct Case {
    float top, basement;
    bool phaseAbove45;
  };
  for (const Case& c : {Case{100, 1, true}, Case{10, 1000, false}}) {
    const std::vector<float> periods = {1e-6f, 1.0f, 1e6f};
    const std::vector<Point> p =
        worker.Run(HalfSpaceBasedModel({{c.top, 500}, {c.basement, 0}}), periods);
    SCOPED_TRACE(testing::Message() << c.top << " over " << c.basement);
    ExpectRelative(p[0].resistivity, c.top, 1e-3, "short period");
    EXPECT_NEAR(p[0].phase, 45.0, 0.1);
    ExpectRelative(p[2].resistivity, c.basement, 0.05, "long period");
    EXPECT_NEAR(p[2].phase, 45.0, 3.0);
    EXPECT_EQ(p[1].phase > 45.0f, c.phaseAbove45) << p[1].phase;
  }
}

TEST(CHZD_RandomModels, AgreeWithImpedanceRecursion) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  std::mt19937 random(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (int trial = 0; trial < 30; ++trial) {
    const int n = trial < 2 ? 63 : 1 + static_cast<int>(random() % 63);
    std::vector<Layer> layers;
    for (int j = 0; j < n; ++j) {
      layers.push_back({static_cast<float>(std::pow(10.0, 4 * unit(random) - 0.5)),
                        static_cast<float>(std::pow(10.0, 3 * unit(random)))});
    }
    std::vector<float> periods;
    for (int i = 0; i < 25; ++i) periods.push_back(std::pow(10.0f, 7 * unit(random) - 3));
    const std::vector<Point> points = worker.Run(HalfSpaceBasedModel(layers), periods);
    for (size_t i = 0; i < periods.size(); ++i) {
      const Point expected = ReferencePoint(layers, periods[i]);
      SCOPED_TRACE(testing::Message() << "trial " << trial << " period " << periods[i]);
      ExpectRelative(points[i].resistivity, expected.resistivity, 1e-5, "resistivity");
      ExpectRelative(points[i].phase, expected.phase, 1e-5, "phase");
    }
  }
}

TEST(CHZD_InvalidModels, NaNEntriesWithoutCrash) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  const RecurrenceModel good = HalfSpaceBasedModel({{10, 100}, {100, 0}});
  struct Case {
    const char* what;
    void (*spoil)(RecurrenceModel&);
  };
  const Case cases[] = {
      {"no layers", [](RecurrenceModel& m) { m.layerCount = 0; }},
      {"64 layers", [](RecurrenceModel& m) { m.layerCount = 64; }},
      {"negative layer count", [](RecurrenceModel& m) { m.layerCount = -3; }},
      {"negative thickness", [](RecurrenceModel& m) { m.thickness[0] = -1.0f; }},
      {"NaN thickness", [](RecurrenceModel& m) { m.thickness[0] = std::nanf(""); }},
      {"zero conductivity", [](RecurrenceModel& m) { m.conductivity[1][0] = 0.0f; }},
      {"NaN conductivity", [](RecurrenceModel& m) { m.conductivity[0][1] = std::nanf(""); }},
      {"unknown bottom mode", [](RecurrenceModel& m) { m.bottomMode = 9; }},
  };
  for (const Case& c : cases) {
    RecurrenceModel model = good;
    c.spoil(model);
    for (const Point& p : worker.Run(model, {1.0f, 10.0f})) {
      EXPECT_TRUE(std::isnan(p.resistivity) && std::isnan(p.phase)) << c.what;
    }
  }
  const std::vector<float> periods = {0.0f, -2.0f, std::nanf(""), INFINITY, 2.0f};
  const std::vector<Point> points = worker.Run(good, periods);
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(std::isnan(points[i].resistivity) && std::isnan(points[i].phase)) << periods[i];
  }
  EXPECT_TRUE(std::isfinite(points[4].resistivity) && std::isfinite(points[4].phase));
}

// A share larger than the reply can hold is cut at 255 entries (the buffer is exactly 2048
// bytes); a negative count writes nothing.
TEST(CHZD_ItemCount, NeverWritesPastTheResultBuffer) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  const RecurrenceModel model = HalfSpaceBasedModel({{50, 0}});
  const std::vector<float> periods(kRequestItemCapacity, 1.0f);
  const std::vector<Point> full = worker.Run(model, periods, 0, 100000, kMaxItems);
  ExpectRelative(full[kMaxItems - 1].resistivity, 50.0, 1e-5, "last entry");
  const std::vector<Point> none = worker.Run(model, periods, 0, -1000, 1);
  EXPECT_EQ(none[0].resistivity, 0.0f);
}

TEST(CHZD_BufferPosition, SameResultsInEveryPosition) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  const RecurrenceModel model = HalfSpaceBasedModel({{10, 300}, {1, 0}});
  const std::vector<float> periods = LogPeriods(0.01, 100, 5);
  const std::vector<Point> first = worker.Run(model, periods, 0);
  for (int position : {1, 2}) {
    const std::vector<Point> other = worker.Run(model, periods, position);
    EXPECT_EQ(std::memcmp(first.data(), other.data(), first.size() * sizeof(Point)), 0);
  }
}

TEST(CLOADFCHZD_LibraryMissing, ReportsOnStandardErrorAndAnswersNaN) {
  testing::internal::CaptureStderr();
  Worker worker(false);
  const std::string printed = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(worker.Ready());
  EXPECT_NE(printed.find((worker.Directory() / kFdllFile).string()), std::string::npos) << printed;
  EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << printed;
  for (const Point& p : worker.Run(HalfSpaceBasedModel({{10, 0}}), {1.0f, 2.0f})) {
    EXPECT_TRUE(std::isnan(p.resistivity) && std::isnan(p.phase));
  }
}

// The request as worker share: items first..first+count-1 moved to the front, as the server
// hands them over.
PipeRequest Share(const PipeRequest& request, int first, int count) {
  PipeRequest share = request;
  std::memmove(share.items, request.items + first, static_cast<size_t>(count) * 4);
  share.itemCount = count;
  return share;
}

struct Batch {
  std::vector<float> thickness, periods, log10Rho;
  int layers() const { return static_cast<int>(thickness.size()) + 1; }
};

// 50 layers growing geometrically from 10 m, 40 periods from 1 ms to 10^4 s, models of
// smoothly varying resistivity.
Batch OccamLikeBatch(int models) {
  Batch b;
  for (int j = 0; j < 49; ++j) b.thickness.push_back(static_cast<float>(10 * std::pow(1.2, j)));
  b.periods = LogPeriods(1e-3, 1e4, 40);
  for (int m = 0; m < models; ++m) {
    for (int j = 0; j < 50; ++j) {
      b.log10Rho.push_back(static_cast<float>(1.5 + std::sin(0.2 * j + m) * (0.5 + 0.3 * m)));
    }
  }
  return b;
}

// Each model at each period as the sounding kind (CRECUR1) gives it for the same earth; the
// two take the resistivity in different single-precision forms, 10^-v against v.
TEST(CHZD_ModelBatch, AgreesWithSoundingKindSplitAnywhere) {
  Worker first(true), second(true);
  ASSERT_TRUE(first.Ready() && second.Ready());
  const Batch b = OccamLikeBatch(5);
  PipeRequest request;
  ASSERT_TRUE(sounding::BuildModelBatchRequest(b.thickness, b.periods, b.log10Rho, request));
  ASSERT_EQ(request.itemCount, 200);
  const std::vector<Point> whole = first.RunRequest(request, 0, 200);
  for (int m = 0; m < 5; ++m) {
    std::vector<Layer> layers;
    for (int j = 0; j < 50; ++j) {
      layers.push_back({static_cast<float>(std::pow(10.0, b.log10Rho[m * 50 + j])),
                        j < 49 ? b.thickness[j] : 0.0f});
    }
    const std::vector<Point> expected = first.Run(HalfSpaceBasedModel(layers), b.periods);
    for (int i = 0; i < 40; ++i) {
      SCOPED_TRACE(testing::Message() << "model " << m << " period " << b.periods[i]);
      ExpectRelative(whole[m * 40 + i].resistivity, expected[i].resistivity, 4e-7, "resistivity");
      ExpectRelative(whole[m * 40 + i].phase, expected[i].phase, 4e-7, "phase");
    }
  }
  for (int cut : {1, 97, 199}) {
    std::vector<Point> joined = first.RunRequest(Share(request, 0, cut), 0, cut);
    const std::vector<Point> rest = second.RunRequest(Share(request, cut, 200 - cut), 0, 200 - cut);
    joined.insert(joined.end(), rest.begin(), rest.end());
    EXPECT_EQ(std::memcmp(joined.data(), whole.data(), 200 * sizeof(Point)), 0) << cut;
  }
}

// One bad part makes exactly the entries that depend on it NaN.
TEST(CHZD_ModelBatch, BadPartsGiveNaNEntriesForTheirItemsOnly) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  const Batch b = OccamLikeBatch(2);
  PipeRequest good;
  ASSERT_TRUE(sounding::BuildModelBatchRequest(b.thickness, b.periods, b.log10Rho, good));
  auto floatAt = [](PipeRequest& r, int index) -> unsigned char* {
    return r.moduleData + sounding::kBatchHeaderSize + 4 * index;
  };
  const float nan = std::nanf(""), tooLarge = 30.5f, negative = -1.0f;
  auto setCount = [](PipeRequest& r, int offset, int32_t value) {
    std::memcpy(r.moduleData + offset, &value, 4);
  };
  struct Case {
    const char* what;
    std::function<void(PipeRequest&)> spoil;
    std::vector<int> nanItems;  // all others finite
  };
  std::vector<int> all(80), secondModel(40);
  for (int k = 0; k < 80; ++k) all[k] = k;
  for (int k = 0; k < 40; ++k) secondModel[k] = 40 + k;
  const Case cases[] = {
      {"period 3 NaN", [&](PipeRequest& r) { std::memcpy(floatAt(r, 49 + 3), &nan, 4); }, {3, 43}},
      {"model 1 layer 7 beyond 30",
       [&](PipeRequest& r) { std::memcpy(floatAt(r, 49 + 40 + 57), &tooLarge, 4); }, secondModel},
      {"negative thickness", [&](PipeRequest& r) { std::memcpy(floatAt(r, 5), &negative, 4); },
       all},
      {"item of model 2",
       [](PipeRequest& r) { r.items[10] = sounding::ModelBatchItem(2, 10); },
       {10}},
      {"item of period 40",
       [](PipeRequest& r) { r.items[11] = sounding::ModelBatchItem(0, 40); },
       {11}},
      {"6 models of 50 layers at 40 periods do not fit", [&](PipeRequest& r) { setCount(r, 8, 6); },
       all},
      {"129 layers", [&](PipeRequest& r) { setCount(r, 0, 129); }, all},
  };
  for (const Case& c : cases) {
    PipeRequest request = good;
    c.spoil(request);
    const std::vector<Point> points = worker.RunRequest(request, 0, 80);
    for (int k = 0; k < 80; ++k) {
      const bool expectNaN = std::count(c.nanItems.begin(), c.nanItems.end(), k) > 0;
      EXPECT_EQ(std::isnan(points[k].resistivity) && std::isnan(points[k].phase), expectNaN)
          << c.what << ", item " << k;
      if (!expectNaN) {
        EXPECT_TRUE(std::isfinite(points[k].resistivity)) << c.what << ", item " << k;
      }
    }
  }
}

TEST(ModelBatchCapacity_Table, BoundedByBlockAndEntries) {
  struct Row {
    int layers, periods, capacity;
  };
  // 50 layers at 27 periods: 6 models fill the block to its last byte.
  for (const Row& r : {Row{50, 40, 5}, Row{50, 27, 6}, Row{11, 54, 4}, Row{1, 1, 255},
                       Row{128, 200, 0}, Row{0, 10, 0}, Row{10, 256, 0}}) {
    EXPECT_EQ(sounding::ModelBatchCapacity(r.layers, r.periods), r.capacity)
        << r.layers << " layers, " << r.periods << " periods";
  }
  const Batch b = OccamLikeBatch(6);
  PipeRequest request;
  EXPECT_FALSE(sounding::BuildModelBatchRequest(b.thickness, b.periods, b.log10Rho, request));
}

// Items given one by one: each must name a model and a period of the batch, at most 255 of them.
TEST(BuildModelBatchRequest_GivenItems, OnlyItemsOfTheBatch) {
  const Batch b = OccamLikeBatch(2);
  const std::vector<uint32_t> good = {sounding::ModelBatchItem(1, 39), sounding::ModelBatchItem(0, 0)};
  PipeRequest request;
  ASSERT_TRUE(sounding::BuildModelBatchRequest(b.thickness, b.periods, b.log10Rho, good, request));
  EXPECT_EQ(request.itemCount, 2);
  EXPECT_EQ(request.items[0], good[0]);
  EXPECT_EQ(request.items[1], good[1]);
  const std::vector<std::vector<uint32_t>> bad = {
      {sounding::ModelBatchItem(2, 0)},            // a third model
      {sounding::ModelBatchItem(0, 40)},           // a 41st period
      {},                                          // nothing asked
      std::vector<uint32_t>(256, good[0]),         // more than a reply holds
  };
  for (const std::vector<uint32_t>& items : bad) {
    EXPECT_FALSE(sounding::BuildModelBatchRequest(b.thickness, b.periods, b.log10Rho, items,
                                                  request))
        << items.size();
  }
}

// Serves a request with one module instance per worker, each given its share as the server
// gives it: `shares` contiguous counts; entries gathered in item order.
PipeReply Serve(const std::vector<Worker*>& workers, const std::vector<int>& shares,
                const PipeRequest& request) {
  PipeReply reply{};
  int first = 0;
  for (size_t w = 0; w < workers.size(); ++w) {
    if (shares[w] <= 0) continue;
    const std::vector<Point> part =
        workers[w]->RunRequest(Share(request, first, shares[w]), 0, shares[w]);
    std::memcpy(reply.entries[first], part.data(), part.size() * sizeof(Point));
    first += shares[w];
  }
  return reply;
}

// The server's split: ceil(N / W) each, bounded by what is left.
std::vector<int> ServerShares(int items, int workers) {
  std::vector<int> shares;
  const int each = (items + workers - 1) / workers;
  for (int w = 0, left = items; w < workers; ++w) {
    shares.push_back(w + 1 == workers ? left : std::min(each, left));
    left -= shares.back();
  }
  return shares;
}

// Eight chains run as the module's tests and server tests do (sampler_rounds.h), each request
// served by these workers.
std::vector<sp::ChainState> Sample(const std::vector<Worker*>& workers,
                                   const std::vector<int>& shares, int* swaps = nullptr) {
  return SampleRounds([&](const PipeRequest& r) { return Serve(workers, shares, r); }, swaps);
}

// The samples are the same with one worker, two, three, and items split at odd places; and
// the same as the chains run in this process by the sampler's own functions.
TEST(CHZD_SamplerSteps, SameSamplesForAnyNumberOfWorkers) {
  Worker w0(true), w1(true), w2(true);
  ASSERT_TRUE(w0.Ready() && w1.Ready() && w2.Ready());
  const int items = kRoundsItemCount;
  int swaps = 0;
  const std::vector<sp::ChainState> one = Sample({&w0}, ServerShares(items, 1), &swaps);
  ASSERT_EQ(one.size(), 48u);
  EXPECT_GT(swaps, 0);
  EXPECT_TRUE(SameStates(one, Sample({&w0, &w1}, ServerShares(items, 2))));
  EXPECT_TRUE(SameStates(one, Sample({&w0, &w1, &w2}, ServerShares(items, 3))));
  EXPECT_TRUE(SameStates(one, Sample({&w2, &w0, &w1}, {13, 150, items - 163})));

  sp::Problem problem;
  ASSERT_TRUE(problem.Set(kPrior, ThreeLayerData(), true));
  sp::ChainState chain0 = sp::DrawFromPrior(kPrior, kSeed, 0);
  sp::StepTally tally;
  ASSERT_TRUE(sp::AdvanceChain(problem, kSeed, {1.0f, 0.2f, 0.3f, 0.5f}, 25, chain0, tally));
  EXPECT_EQ(std::memcmp(&chain0, &one[0], sizeof chain0), 0);
  int moved = 0;
  for (uint32_t c = 0; c < 8; ++c) moved += one[40 + c].layers != one[c].layers;
  EXPECT_GT(moved, 0);
}

// What a chain's answer says when it cannot be computed, and how data pieces are acknowledged.
TEST(CHZD_SamplerSteps, StatusesAndDataPieces) {
  Worker worker(true);
  ASSERT_TRUE(worker.Ready());
  const std::vector<Worker*> one{&worker};
  std::vector<sp::DataPoint> data = ThreeLayerData();
  data.insert(data.end(), data.begin(), data.begin() + 46);  // 100 periods: two pieces
  std::vector<sp::ChainSlot> chains(2);
  for (uint32_t c = 0; c < 2; ++c) {
    chains[c].state.chain = c;
    chains[c].controls = {1.0f, 0.2f, 0.3f, 0.5f};
  }
  PipeRequest steps;
  ASSERT_TRUE(sp::BuildStepRequest(9, kSeed, 5, kPrior.maxLayers, chains, steps));
  auto statuses = [&](const PipeRequest& r) {
    const std::vector<sp::ChainOutcome> out =
        sp::ReadStepReply(Serve(one, {r.itemCount}, r), kPrior.maxLayers, chains);
    return std::vector<int>{out[0].status, out[1].status};
  };
  EXPECT_EQ(statuses(steps), (std::vector<int>{sp::kNoData, sp::kNoData}));

  const std::vector<PipeRequest> pieces = sp::DataRequests(9, kPrior, true, data, 3);
  ASSERT_EQ(pieces.size(), 2u);
  const sp::DataAck first = sp::ReadDataAck(Serve(one, {3}, pieces[0]), 2);
  EXPECT_EQ(first.readyId, 0u);
  EXPECT_EQ(first.received, 74);
  EXPECT_EQ(sp::ReadDataAck(Serve(one, {3}, pieces[0]), 0).received, 74);  // again: no change
  const sp::DataAck second = sp::ReadDataAck(Serve(one, {3}, pieces[1]), 2);
  EXPECT_EQ(second.readyId, 9u);
  EXPECT_EQ(second.received, 100);
  EXPECT_EQ(statuses(steps), (std::vector<int>{0, 0}));

  PipeRequest badChain = steps;  // chain 1 with 13 layers, more than the prior's 12
  const int32_t layers = 13;
  std::memcpy(
      badChain.moduleData + sizeof(sp::StepBlockHeader) + sp::ChainRecordSize(kPrior.maxLayers) + 8,
      &layers, 4);
  EXPECT_EQ(statuses(badChain), (std::vector<int>{0, sp::kBadChain}));
  PipeRequest lateStart = steps;  // chain 0 with no layers but steps taken: nothing to start from
  const uint32_t three = 3;
  std::memcpy(lateStart.moduleData + sizeof(sp::StepBlockHeader) + 4, &three, 4);
  EXPECT_EQ(statuses(lateStart), (std::vector<int>{sp::kBadChain, 0}));
  PipeRequest noSteps = steps;
  const int32_t zero = 0;
  std::memcpy(noSteps.moduleData + 12, &zero, 4);
  EXPECT_EQ(statuses(noSteps), (std::vector<int>{sp::kBadRequest, sp::kBadRequest}));
  PipeRequest otherId = steps;
  otherId.moduleData[0] = 8;
  EXPECT_EQ(statuses(otherId), (std::vector<int>{sp::kNoData, sp::kNoData}));

  // A set with a bad point is refused when it is complete, and the set in use stays.
  data[80].phaseWeight = -1.0f;
  const std::vector<PipeRequest> bad = sp::DataRequests(10, kPrior, true, data, 3);
  ASSERT_EQ(bad.size(), 2u);
  EXPECT_EQ(sp::ReadDataAck(Serve(one, {3}, bad[1]), 0).received, 26);
  const sp::DataAck refused = sp::ReadDataAck(Serve(one, {3}, bad[0]), 0);
  EXPECT_EQ(refused.received, -1);
  EXPECT_EQ(refused.readyId, 9u);
  EXPECT_EQ(statuses(steps), (std::vector<int>{0, 0}));
}

TEST(ChainsPerStepRequest_Table, BoundedByBlockAndEntries) {
  struct Row {
    int maxLayers, chains;
  };
  for (const Row& r : {Row{20, 8}, Row{12, 12}, Row{1, 46}, Row{63, 2}, Row{0, 0}, Row{64, 0}}) {
    EXPECT_EQ(sp::ChainsPerStepRequest(r.maxLayers), r.chains) << r.maxLayers;
  }
}

#if !defined(_WIN32)
// Unloading the module releases the library it loaded, so nothing of the worker stays loaded.
TEST(CLOADFCHZD_Unload, ReleasesTheLibrary) {
  fs::path library;
  {
    Worker worker(true);
    ASSERT_TRUE(worker.Ready());
    library = worker.Directory() / kFdllFile;
    void* loaded = ::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(loaded, nullptr);
    ::dlclose(loaded);
  }
  EXPECT_EQ(::dlopen(library.c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
}
#endif

}  // namespace
}  // namespace vesk1::test
