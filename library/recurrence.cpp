#include "recurrence.h"

#include <cstring>

#include "complex.h"
#include "state.h"

namespace vesk1 {
namespace {

// Below this omega (0.1 in single precision) the bottom-mode-1 start scales its numerator and
// denominator by kLowFrequencyScale before dividing; the factor cancels in the quotient.
constexpr double kLowFrequencyLimit = 0.10000000149011612;
constexpr double kLowFrequencyScale = 100000.0;

Complex Conductivity(const RecurrenceModel& model, int layer) {
  return {static_cast<double>(model.conductivity[layer - 1][0]),
          static_cast<double>(model.conductivity[layer - 1][1])};
}

// k^2 = i omega mu sigma.
Complex LayerTerm(double omegaMu, Complex sigma) {
  return {-(omegaMu * sigma.im), omegaMu * sigma.re};
}

// u = sqrt(lambda^2 - k^2).
Complex LayerRoot(double lambdaSquared, Complex term) {
  return SquareRoot({lambdaSquared - term.re, -term.im});
}

// exp(-(s u)) with s the doubled thickness, both parts of the argument negated.
Complex Attenuation(double s, Complex root) {
  return Exponential(Negate(Scale(s, root)));
}

}  // namespace

// Two bottom-up recurrences through the layered model for one value lambda of the transform
// variable: Gamma through the plain layer roots, Q through roots and conductivity ratios scaled
// by each layer's factor.
// On entry: lambda; parameters[0] = omega; results entries 0 and 3 (complex) are the starting
// Gamma and Q when model->bottomMode is not 0, 1 or 2; model as laid out in RecurrenceModel.
// On return: results = Gamma, the top layer's root u, -k^2 of the top layer, Q (for more than one
// layer, u and k^2 of the top layer are those of the second recurrence). The parameter and model
// blocks are only read. A layer count outside 1..63 is refused before anything is read or
// written, leaving all blocks as they were.
void LayeredEarthRecurrence(const double* lambda, const double* parameters, double* results,
                            const RecurrenceModel* model) {
  if (model->layerCount < 1 || model->layerCount > kRecurrenceMaxLayers) return;

  RecurrenceBlocks& blocks = EntryPoints().recurrence;
  std::memcpy(blocks.parameters, parameters, sizeof blocks.parameters);
  std::memcpy(blocks.results, results, sizeof blocks.results);
  std::memcpy(&blocks.model, model, sizeof blocks.model);
  const RecurrenceModel& m = blocks.model;
  Complex* const terms = blocks.layerTerms;
  Complex* const roots = blocks.layerRoots;

  const int n = m.layerCount;
  const double lam = *lambda;
  const double lambdaSquared = lam * lam;
  const double omega = blocks.parameters[0];
  const double omegaMu = omega * kMagneticConstant;

  const Complex bottomTerm = LayerTerm(omegaMu, Conductivity(m, n));
  const Complex bottomRoot = LayerRoot(lambdaSquared, bottomTerm);
  terms[0] = bottomTerm;
  roots[0] = bottomRoot;

  Complex gamma;
  Complex q;
  if (m.bottomMode == 2) {
    gamma = {1.0, 0.0};
    q = {1.0, 0.0};
  } else if (m.bottomMode == 1 || m.bottomMode == 0) {
    const double s = 2.0 * static_cast<double>(m.thickness[n - 1]);
    const Complex e = Attenuation(s, bottomRoot);
    const Complex p = OnePlus(e);
    const Complex mm = OneMinus(e);
    if (m.bottomMode == 1) {
      const Complex lambdaComplex{lam, 0.0};
      Complex a = Add(Multiply(lambdaComplex, mm), Multiply(bottomRoot, p));
      Complex b = Add(Multiply(lambdaComplex, p), Multiply(bottomRoot, mm));
      if (omega < kLowFrequencyLimit) {
        a = Scale(kLowFrequencyScale, a);
        b = Scale(kLowFrequencyScale, b);
      }
      gamma = Divide(a, b);
      q = Divide(mm, p);
    } else {
      gamma = Divide(mm, p);
      q = Divide(p, mm);
    }
  } else {
    gamma = blocks.results[0];
    q = blocks.results[3];
  }

  // Gamma: the denominator takes the incoming Gamma.
  Complex rootBelow = bottomRoot;
  for (int j = n - 1; j >= 1; --j) {
    const Complex term = LayerTerm(omegaMu, Conductivity(m, j));
    const Complex root = LayerRoot(lambdaSquared, term);
    terms[n - j] = term;
    roots[n - j] = root;
    const Complex e = Attenuation(2.0 * static_cast<double>(m.thickness[j - 1]), root);
    const Complex p = OnePlus(e);
    const Complex mm = OneMinus(e);
    gamma = Divide(Add(Multiply(rootBelow, mm), Multiply(root, Multiply(gamma, p))),
                   Add(Multiply(rootBelow, p), Multiply(root, Multiply(gamma, mm))));
    rootBelow = root;
  }

  // Q: each layer's k^2 and thickness are scaled by its factor, the conductivity ratio by the
  // neighbours' factors, and the denominator takes the new numerator rather than the incoming
  // Q. The ratio's two products are rounded to single precision, as the model holds them.
  rootBelow = bottomRoot;
  for (int j = n - 1; j >= 1; --j) {
    const double factor = static_cast<double>(m.layerFactor[j - 1]);
    const Complex sigma = Conductivity(m, j);
    const Complex term = {-(omegaMu * sigma.im) / factor, (omegaMu * sigma.re) / factor};
    const Complex root = LayerRoot(lambdaSquared, term);
    terms[n - j] = term;
    roots[n - j] = root;
    const double s = 2.0 * static_cast<double>(m.thickness[j - 1]) * factor;
    const Complex e = Attenuation(s, root);
    const Complex p = OnePlus(e);
    const Complex mm = OneMinus(e);
    // c_b = W_j sigma_(j+1) and c_j = W_(j+1) sigma_j.
    const float factorBelow = m.layerFactor[j];
    const float factorHere = m.layerFactor[j - 1];
    const Complex cBelow = {
        static_cast<double>(static_cast<float>(factorHere * m.conductivity[j][0])),
        static_cast<double>(static_cast<float>(factorHere * m.conductivity[j][1]))};
    const Complex cHere = {
        static_cast<double>(static_cast<float>(factorBelow * m.conductivity[j - 1][0])),
        static_cast<double>(static_cast<float>(factorBelow * m.conductivity[j - 1][1]))};
    const Complex numerator = Add(Multiply(rootBelow, mm),
                                  Divide(Multiply(q, Multiply(cBelow, Multiply(root, p))), cHere));
    const Complex denominator =
        Add(Multiply(rootBelow, p),
            Divide(Multiply(numerator, Multiply(cBelow, Multiply(root, mm))), cHere));
    q = Divide(numerator, denominator);
    rootBelow = root;
  }

  blocks.results[0] = gamma;
  blocks.results[1] = roots[n - 1];
  blocks.results[2] = Negate(terms[n - 1]);
  blocks.results[3] = q;
  std::memcpy(results, blocks.results, sizeof blocks.results);
}

}  // namespace vesk1
