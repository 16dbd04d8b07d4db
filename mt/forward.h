// What an inversion gets from its caller: the forward engine that computes responses and
// sensitivities of layered earths (the server's workers, or the module's computation in a test)
// and the solver of its linear systems (vesk1_fdll's LU factorization in the client). mt/ itself
// computes neither, so it needs no pipe and no library of its own.
#ifndef VESK1_MT_FORWARD_H
#define VESK1_MT_FORWARD_H

#include <cstddef>
#include <string>
#include <vector>

namespace vesk1::mt {

// Computes responses and sensitivities of layered earths with fixed thicknesses at fixed
// periods; models are log10 resistivities from the top down, the half-space last.
class ForwardEngine {
 public:
  virtual ~ForwardEngine() = default;
  // log10 of the apparent resistivity and the phase in degrees, one per period. False with
  // `error` set when the computation could not be done (not when a value is NaN).
  virtual bool Responses(const std::vector<double>& model, std::vector<double>& log10Rho,
                         std::vector<double>& phase, std::string& error) = 0;
  // The Jacobian, 2P rows by N columns, row-major: rows 0..P-1 d log10 rho_a / d m_j, rows
  // P..2P-1 d phase (degrees) / d m_j.
  virtual bool Sensitivities(const std::vector<double>& model, std::vector<double>& jacobian,
                             std::string& error) = 0;
  // The responses of several models, each as Responses gives it; an engine that can computes
  // them together. By default one model after another.
  virtual bool ResponsesOfMany(const std::vector<std::vector<double>>& models,
                               std::vector<std::vector<double>>& log10Rho,
                               std::vector<std::vector<double>>& phase, std::string& error) {
    log10Rho.resize(models.size());
    phase.resize(models.size());
    for (size_t k = 0; k < models.size(); ++k) {
      if (!Responses(models[k], log10Rho[k], phase[k], error)) return false;
    }
    return true;
  }
};

// Solves the linear systems of an inversion.
class LinearSolver {
 public:
  virtual ~LinearSolver() = default;
  // Solves a x = b (n by n, column-major). Returns false and leaves x alone when the system is
  // refused: `rcond` is NaN when an entry of a or b is not a finite number (such a system is
  // never factored), otherwise the estimate of the reciprocal condition number, which lies
  // below `minRcond`.
  virtual bool Solve(int n, const std::vector<double>& a, const std::vector<double>& b,
                     double minRcond, std::vector<double>& x, double& rcond) = 0;
};

}  // namespace vesk1::mt

#endif  // VESK1_MT_FORWARD_H
