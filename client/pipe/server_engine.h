// The inversion's forward engine as requests to the sounding module: the responses as requests
// of kind "sounding", 255 periods each, an iteration's trial models as requests of kind "model
// batch", and the Jacobian as requests of kind "sensitivities" whose items name
// period-and-layer pairs, so the server's workers share them.
#ifndef VESK1_CLIENT_PIPE_SERVER_ENGINE_H
#define VESK1_CLIENT_PIPE_SERVER_ENGINE_H

#include <string>
#include <vector>

#include "client/pipe/transport.h"
#include "mt/forward.h"
#include "vesk1/module.h"

namespace vesk1::client {

// Builds the requests and reads the replies; a subclass answers each request (the server here,
// the module's computation in this process in the tests).
class RequestEngine : public mt::ForwardEngine {
 public:
  RequestEngine(std::vector<double> periods, std::vector<double> thickness)
      : periods_(std::move(periods)), thickness_(std::move(thickness)) {}

  bool Responses(const std::vector<double>& model, std::vector<double>& log10Rho,
                 std::vector<double>& phase, std::string& error) override;
  bool Sensitivities(const std::vector<double>& model, std::vector<double>& jacobian,
                     std::string& error) override;
  // The models in requests of the model-batch kind, as many to a request as its block and its
  // reply hold; one model per sounding request when not even one fits, or when batches are
  // switched off.
  bool ResponsesOfMany(const std::vector<std::vector<double>>& models,
                       std::vector<std::vector<double>>& log10Rho,
                       std::vector<std::vector<double>>& phase, std::string& error) override;
  // Batches on (the default) or off, to measure what they save.
  void UseBatches(bool on) { batches_ = on; }

  int requests() const { return requests_; }
  double serverMilliseconds() const { return serverMs_; }

 protected:
  // Answers one request; false with `error` set when no reply came.
  virtual bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) = 0;

 private:
  bool Send(const PipeRequest& request, PipeReply& reply, std::string& error);

  std::vector<double> periods_;
  std::vector<double> thickness_;
  int requests_ = 0;
  double serverMs_ = 0;
  bool batches_ = true;
};

// Through a connected vesk1_pipe running the sounding module.
class ServerEngine : public RequestEngine {
 public:
  ServerEngine(Connection& connection, int timeoutMs, std::vector<double> periods,
               std::vector<double> thickness)
      : RequestEngine(std::move(periods), std::move(thickness)), link_(connection, timeoutMs) {}
  ClientStatus status() const { return link_.status(); }

 protected:
  bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) override {
    return link_.Exchange(request, reply, error);
  }

 private:
  ServerLink link_;
};

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_PIPE_SERVER_ENGINE_H
