// The inversion's forward engine as requests to the sounding module: the responses as requests
// of kind "sounding", 255 periods each, and the Jacobian as requests of kind "sensitivities"
// whose items name period-and-layer pairs, so the server's workers share them.
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
};

// Through a connected vesk1_pipe running the sounding module.
class ServerEngine : public RequestEngine {
 public:
  ServerEngine(Connection& connection, int timeoutMs, std::vector<double> periods,
               std::vector<double> thickness)
      : RequestEngine(std::move(periods), std::move(thickness)),
        connection_(connection),
        timeoutMs_(timeoutMs) {}
  ClientStatus status() const { return status_; }

 protected:
  bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) override;

 private:
  Connection& connection_;
  int timeoutMs_;
  ClientStatus status_ = ClientStatus::kOk;
};

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_PIPE_SERVER_ENGINE_H
