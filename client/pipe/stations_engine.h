// The profile's forward engine as requests to the sounding module: the responses of many
// stations' models as model-batch requests (models of different stations share a request, its
// period table holding the periods its models are asked at), and each station's Jacobian as
// sensitivity requests; all requests of one call go out as one stream.
#ifndef VESK1_CLIENT_PIPE_STATIONS_ENGINE_H
#define VESK1_CLIENT_PIPE_STATIONS_ENGINE_H

#include <string>
#include <vector>

#include "client/pipe/transport.h"
#include "mt/forward.h"
#include "vesk1/module.h"

namespace vesk1::client {

// Builds the requests and reads the replies; a subclass answers them (the server here, the
// module's computation in this process in the tests).
class StationsRequestEngine : public mt::StationsEngine {
 public:
  // Each station's periods (seconds, ascending) and the mesh's thicknesses above the half-space.
  StationsRequestEngine(std::vector<std::vector<double>> periods, std::vector<double> thickness)
      : periods_(std::move(periods)), thickness_(std::move(thickness)) {}

  bool Responses(const std::vector<size_t>& station, const std::vector<std::vector<double>>& models,
                 std::vector<std::vector<double>>& log10Rho,
                 std::vector<std::vector<double>>& phase, std::string& error) override;
  bool Sensitivities(const std::vector<size_t>& station,
                     const std::vector<std::vector<double>>& models,
                     std::vector<std::vector<double>>& jacobians, std::string& error) override;

  int requests() const { return requests_; }
  double serverMilliseconds() const { return serverMs_; }

 protected:
  // Answers the requests in order, replies[k] to requests[k]; false with `error` set when a
  // reply did not come.
  virtual bool ExchangeAll(const std::vector<PipeRequest>& requests,
                           std::vector<PipeReply>& replies, std::string& error) = 0;

 private:
  bool Send(const std::vector<PipeRequest>& requests, std::vector<PipeReply>& replies,
            std::string& error);

  std::vector<std::vector<double>> periods_;
  std::vector<double> thickness_;
  int requests_ = 0;
  double serverMs_ = 0;
};

// Through a connected vesk1_pipe running the sounding module. The next request goes out before
// the reply to the last has come, so the server never waits for the client between them.
class ServerStationsEngine : public StationsRequestEngine {
 public:
  ServerStationsEngine(Connection& connection, int timeoutMs,
                       std::vector<std::vector<double>> periods, std::vector<double> thickness)
      : StationsRequestEngine(std::move(periods), std::move(thickness)),
        link_(connection, timeoutMs) {}
  ClientStatus status() const { return link_.status(); }

 protected:
  bool ExchangeAll(const std::vector<PipeRequest>& requests, std::vector<PipeReply>& replies,
                   std::string& error) override {
    return link_.ExchangeAll(requests, replies, error);
  }

 private:
  ServerLink link_;
};

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_PIPE_STATIONS_ENGINE_H
