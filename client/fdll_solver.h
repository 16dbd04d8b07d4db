// The inversion's linear solver: vesk1_fdll's LU factorization with condition estimate
// (CDLFCRG), in a library the client loads at run time.
#ifndef VESK1_CLIENT_FDLL_SOLVER_H
#define VESK1_CLIENT_FDLL_SOLVER_H

#include <string>
#include <vector>

#include "common/fdll_loader.h"
#include "mt/forward.h"
#include "vesk1/fdll.h"

namespace vesk1::client {

// Solves a x = b (n by n, column-major) with CDLFCRG after scaling a symmetrically by its
// diagonal. Returns false and leaves x alone when the system is refused: with `rcond` NaN when
// n is not positive or an entry of a or b is not a finite number (the library is not called),
// otherwise when the estimate of the reciprocal condition number of the scaled matrix, which
// `rcond` receives, is below `minRcond`.
bool SolveWithCondition(CDLFCRG_Entry factor, int n, const std::vector<double>& a,
                        const std::vector<double>& b, double minRcond, std::vector<double>& x,
                        double& rcond);

// SolveWithCondition with one library's CDLFCRG, as mt/ asks for its systems.
class FdllSolver : public mt::LinearSolver {
 public:
  explicit FdllSolver(CDLFCRG_Entry factor) : factor_(factor) {}
  bool Solve(int n, const std::vector<double>& a, const std::vector<double>& b, double minRcond,
             std::vector<double>& x, double& rcond) override {
    return SolveWithCondition(factor_, n, a, b, minRcond, x, rcond);
  }

 private:
  CDLFCRG_Entry factor_;
};

// The library to solve with: the file `given` (--fdll) when not empty, otherwise the first of
// beside the program at `program`, <prefix>/lib/vesk1/ of an install and the current folder
// that has CDLFCRG.
common::LoadedFdll LoadSolverLibrary(const std::string& given, const char* program);

}  // namespace vesk1::client

#endif  // VESK1_CLIENT_FDLL_SOLVER_H
