// The forward responses and sensitivities of the inversion as requests to the sounding module:
// one request of kind "sounding" per 255 periods, and the Jacobian as requests of kind
// "sensitivities" whose items name period-and-layer pairs, so the server's workers share them.
#ifndef VESK1_TOOLS_SOUNDING_ENGINE_H
#define VESK1_TOOLS_SOUNDING_ENGINE_H

#include <string>
#include <vector>

#include "client.h"
#include "occam.h"
#include "vesk1/fdll.h"
#include "vesk1/module.h"

namespace vesk1::mt {

// The model block of a layered earth: log10 resistivities from the top down (half-space last)
// and the thicknesses above the half-space, in single precision as the module reads them.
RecurrenceModel LayeredModel(const std::vector<double>& log10Rho,
                             const std::vector<double>& thickness);

// Builds the requests and reads the replies; a subclass answers each request.
class RequestEngine : public ForwardEngine {
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
  ServerEngine(client::Connection& connection, int timeoutMs, std::vector<double> periods,
               std::vector<double> thickness)
      : RequestEngine(std::move(periods), std::move(thickness)),
        connection_(connection),
        timeoutMs_(timeoutMs) {}
  client::ClientStatus status() const { return status_; }

 protected:
  bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) override;

 private:
  client::Connection& connection_;
  int timeoutMs_;
  client::ClientStatus status_ = client::ClientStatus::kOk;
};

// The module's own computation in this process, on one thread: the same requests, no pipe.
class InProcessEngine : public RequestEngine {
 public:
  InProcessEngine(CRECUR1_Entry recur, std::vector<double> periods, std::vector<double> thickness)
      : RequestEngine(std::move(periods), std::move(thickness)), recur_(recur) {}

 protected:
  bool Exchange(const PipeRequest& request, PipeReply& reply, std::string& error) override;

 private:
  CRECUR1_Entry recur_;
};

}  // namespace vesk1::mt

#endif  // VESK1_TOOLS_SOUNDING_ENGINE_H
