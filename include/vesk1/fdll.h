/*
 * vesk1_fdll: the library's exported entry points.
 *
 * Every argument is passed by address, scalars included, and no entry returns a value. A complex
 * number is two doubles, real part first. The library keeps process-wide state, so one thread
 * at a time may be inside one loaded instance; load separate copies to run in parallel.
 * Usable from C (C11) and C++.
 */
#ifndef VESK1_FDLL_H
#define VESK1_FDLL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Only the library's own build marks the entries for export. */
#if defined(VESK1_FDLL_BUILDING)
#if defined(_WIN32)
#define VESK1_FDLL_API __declspec(dllexport)
#else
#define VESK1_FDLL_API __attribute__((visibility("default")))
#endif
#else
#define VESK1_FDLL_API
#endif

enum { kRecurrenceMaxLayers = 63 };

/* The layered model CRECUR1 reads, 1520 bytes. Layer 1 is the top, layer n the bottom; layer
 * j's values sit at index j - 1. The unused stretches are never read and never written. */
typedef struct RecurrenceModel {
  int32_t layerCount;              /* n, 1 to 63 */
  int32_t bottomMode;              /* 0, 1 or 2 start the recurrences; others reuse the results */
  unsigned char unused1[252];
  float thickness[63];             /* metres */
  float conductivity[63][2];       /* complex, real part first */
  float layerFactor[63];           /* the second recurrence's factor, normally 1 */
  unsigned char unused2[252];
} RecurrenceModel;

#ifdef __cplusplus
static_assert(sizeof(RecurrenceModel) == 1520, "RecurrenceModel size");
static_assert(offsetof(RecurrenceModel, thickness) == 260, "thickness offset");
static_assert(offsetof(RecurrenceModel, conductivity) == 512, "conductivity offset");
static_assert(offsetof(RecurrenceModel, layerFactor) == 1016, "layerFactor offset");
#else
_Static_assert(sizeof(RecurrenceModel) == 1520, "RecurrenceModel size");
_Static_assert(offsetof(RecurrenceModel, thickness) == 260, "thickness offset");
_Static_assert(offsetof(RecurrenceModel, conductivity) == 512, "conductivity offset");
_Static_assert(offsetof(RecurrenceModel, layerFactor) == 1016, "layerFactor offset");
#endif

/* out = a * b for complex a, b, out (two doubles each); out may be the storage of a or b. */
VESK1_FDLL_API void CPXMUL(const double* a, const double* b, double* out);
/* out = exp(z), complex; out may be the storage of z. */
VESK1_FDLL_API void CPXEXP(const double* z, double* out);
/* out = principal square root of z (cut along the negative real axis); out may be z. */
VESK1_FDLL_API void CPXROOT(const double* z, double* out);
/* Layered-medium recurrence for one value lambda of the transform variable.
 * parameters: three doubles, only parameters[0] (omega) is read.
 * results: four complex values (eight doubles), on return Gamma, the top layer's root u,
 *   -k^2 of the top layer, and Q; entries 0 and 3 are read first when bottomMode is not 0, 1 or 2.
 * model: read only. A layerCount outside 1..63 leaves every block unchanged. */
VESK1_FDLL_API void CRECUR1(const double* lambda, const double* parameters, double* results,
                            const RecurrenceModel* model);

/* Inverse of the n by n matrix a (leading dimension *lda) into ainv (leading dimension
 * *ldainv); ainv may be the storage of a when *ldainv == *lda. As for CDLFCRG, a NaN pivot is
 * reported as a singular matrix and a NaN condition estimate draws the warning. */
VESK1_FDLL_API void CDLINRG(const int32_t* n, const double* a, const int32_t* lda, double* ainv,
                            const int32_t* ldainv);
/* LU factorization with scaled partial pivoting of the n by n matrix a into fac and pivot (n
 * integers; pivot[k-1] is the row exchanged with row k at step k, pivot[n-1] = n), and an
 * estimate rcond of the reciprocal of its L1 condition number. fac may be the storage of a when
 * *ldfac == *lda. A pivot that is NaN (a NaN anywhere in a reaches one) is reported as a
 * singular matrix, and an rcond that is NaN (as from an infinite entry) draws the
 * ill-conditioning warning, as a tiny one does: neither comes back silently. */
VESK1_FDLL_API void CDLFCRG(const int32_t* n, const double* a, const int32_t* lda, double* fac,
                            const int32_t* ldfac, int32_t* pivot, double* rcond);
/* rb = ra (n values) in ascending order, rb may be the storage of ra; iperm (n integers, not
 * initialised here) is permuted exactly as rb is. NaNs are placed after all other values (in
 * no particular order among themselves), and the values that are not NaN come back in
 * ascending order just as they would without the NaNs. */
VESK1_FDLL_API void CDSVRGP(const int32_t* n, const double* ra, double* rb, int32_t* iperm);
/* Least-squares line y = bint + bslope * x through the n pairs (xobs[i], yobs[i]); pairs with a
 * missing x or y (NaN, or the library's not-a-number value) are left out and counted. fstat
 * (12 doubles) receives: means of x and y, variances of x and y, their correlation, standard
 * errors of bint and bslope, regression degrees of freedom and sum of squares, error degrees
 * of freedom and sum of squares, and the number of pairs left out; a statistic that cannot be
 * formed is the not-a-number value. */
VESK1_FDLL_API void CDRLINE(const int32_t* nobs, const double* xobs, const double* yobs,
                            double* bint, double* bslope, double* fstat);

/* Entry types for callers that look the entries up at run time. */
typedef void (*CPXMUL_Entry)(const double*, const double*, double*);
typedef void (*CPXEXP_Entry)(const double*, double*);
typedef void (*CPXROOT_Entry)(const double*, double*);
typedef void (*CRECUR1_Entry)(const double*, const double*, double*, const RecurrenceModel*);
typedef void (*CDLINRG_Entry)(const int32_t*, const double*, const int32_t*, double*,
                              const int32_t*);
typedef void (*CDLFCRG_Entry)(const int32_t*, const double*, const int32_t*, double*,
                              const int32_t*, int32_t*, double*);
typedef void (*CDSVRGP_Entry)(const int32_t*, const double*, double*, int32_t*);
typedef void (*CDRLINE_Entry)(const int32_t*, const double*, const double*, double*, double*,
                              double*);

#ifdef __cplusplus
}
#endif

#endif /* VESK1_FDLL_H */
