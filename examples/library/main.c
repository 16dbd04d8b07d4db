/* Solves a small linear system with vesk1_fdll: CDLFCRG factors the matrix and estimates its
 * condition, then the factors are applied to the right-hand side as the factored form
 * describes (row exchanges and negated multipliers of each step, then the upper triangle). */
#include <stdint.h>
#include <stdio.h>
#include <vesk1/fdll.h>

enum { kOrder = 3 };

int main(void) {
  /* Column-major: a[(i - 1) + (j - 1) * lda] is row i, column j. */
  const double a[kOrder * kOrder] = {2.0, 4.0, 8.0, 1.0, 3.0, 7.0, 1.0, 3.0, 9.0};
  /* b = a * (1, 2, 3) */
  double x[kOrder] = {7.0, 19.0, 49.0};
  double fac[kOrder * kOrder];
  int32_t pivot[kOrder];
  double rcond = 0.0;
  const int32_t n = kOrder, lda = kOrder, ldfac = kOrder;

  CDLFCRG(&n, a, &lda, fac, &ldfac, pivot, &rcond);
  printf("rcond = %.4f\n", rcond);
  if (rcond <= 0.0) return 1;

  /* Forward: step k exchanged rows k and pivot[k], then added multiples of row k below it. */
  for (int k = 0; k < n - 1; ++k) {
    const int l = pivot[k] - 1;
    const double t = x[l];
    x[l] = x[k];
    x[k] = t;
    for (int i = k + 1; i < n; ++i) x[i] += t * fac[i + k * ldfac];
  }
  /* Backward through the upper triangle. */
  for (int k = n - 1; k >= 0; --k) {
    x[k] /= fac[k + k * ldfac];
    for (int i = 0; i < k; ++i) x[i] -= x[k] * fac[i + k * ldfac];
  }
  printf("x = %.6f %.6f %.6f\n", x[0], x[1], x[2]);
  return 0;
}
