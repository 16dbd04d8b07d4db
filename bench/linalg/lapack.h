// The few LAPACK routines the benchmarks compare against, from one LAPACK build loaded by path.
#pragma once

#include <string>

namespace vesk1::bench {

using Dgetrf = void (*)(const int* m, const int* n, double* a, const int* lda, int* ipiv,
                        int* info);
using Dgecon = void (*)(const char* norm, const int* n, const double* a, const int* lda,
                        const double* anorm, double* rcond, double* work, int* iwork, int* info,
                        std::size_t normLength);
using Dgetri = void (*)(const int* n, double* a, const int* lda, const int* ipiv, double* work,
                        const int* lwork, int* info);
using Dlange = double (*)(const char* norm, const int* m, const int* n, const double* a,
                          const int* lda, double* work, std::size_t normLength);

struct Lapack {
  std::string name;
  Dgetrf dgetrf = nullptr;
  Dgecon dgecon = nullptr;
  Dgetri dgetri = nullptr;
  Dlange dlange = nullptr;
  bool Usable() const { return dgetrf && dgecon && dgetri && dlange; }
};

// Debian's reference LAPACK on the reference BLAS.
const Lapack& ReferenceLapack();
// OpenBLAS's LAPACK, limited to one thread.
const Lapack& OpenBlasLapack();

}  // namespace vesk1::bench
