// The float filter of the codebook search (internal to the engine).
//
// Every patch and codeword element is multiplied once by s_e = float(sqrt(w_e)),
// so the weights leave the inner loop: the filter sum of a codeword is
//   S^ = sum_e (a~_e - b~_e)^2,  a~_e = fl(s_e a_e),  b~_e = fl(s_e b_e),
// summed in float in any order (fused multiply-adds allowed). It only decides
// which codewords certainly lose; the winner among the rest is chosen with the
// exact double distances. See search.cc for the bound that makes this exact.
#ifndef NUBO_ENGINE_SEARCH_FILTER_H_
#define NUBO_ENGINE_SEARCH_FILTER_H_

#include "engine/codebook.h"

namespace nubo {

// Codewords of a node side by side in the filter's layout: group g holds, for
// each element e, kFilterLanes prescaled codewords' element e.
constexpr int kFilterLanes = 8;
constexpr int kFilterGroupValues = kFilterLanes * kPatchSize;
// Nodes with more codewords than this are searched by the plain exact path.
constexpr int kMaxFilterCodewords = 512;
// Prescaled values beyond this (or not finite) keep a patch or a node on the
// plain exact path: below it no float sum can overflow (25 * 2000^2 = 1e8).
constexpr float kFilterLimit = 1000.0f;

// s_e = float(sqrt(w_e)).
extern const float kScaledWeights[kPatchSize];

// Filter sums of one prescaled patch against `groups` groups of kFilterLanes
// prescaled codewords: out[g * kFilterLanes + l].
void filterSumsPortable(const float* scaledPatch, const float* groups, int groupCount, float* out);
// The same with AVX2 and FMA; only called where the processor has both.
void filterSumsAvx2(const float* scaledPatch, const float* groups, int groupCount, float* out);

// The filter for kFilterLanes patches at once (transposed[e * kFilterLanes + l]
// is element e of patch l, prescaled) against
// all `count` codewords of a node (1..kMaxFilterCodewords): per lane l,
// smallest[l] = the first index of the smallest sum, survivors[l] = how many
// codewords are at or below survivorLimit(smallest sum, normSums[l]);
// sums[c * kFilterLanes + l] keeps every sum for the exact comparison.
void filterBlockPortable(const float* transposed, const float* groups, int count,
                         const double* normSums, float* sums, int* smallest, int* survivors);
void filterBlockAvx2(const float* transposed, const float* groups, int count,
                     const double* normSums, float* sums, int* smallest, int* survivors);

// The filter for one patch against a node's `count` codewords with AVX2:
// returns the first index of the smallest sum, sets *survivors to a count
// of codewords at or below survivorLimit(smallest sum, normSum) (at least
// that many: one means the smallest is the nearest), and leaves every sum in
// sums (room for the whole last group).
int filterNearestAvx2(const float* scaledPatch, const float* groups, int count, double normSum,
                      float* sums, int* survivors);

// transposed[e * kFilterLanes + l] = rows[l][e] for the kPatchSize elements
// of eight rows, with AVX2.
void transposeBlockAvx2(const float* const* rows, float* transposed);

// The bound of search.cc: |sqrt(T) - sqrt(S^)| <= kFilterRelative * sqrt(S^)
// + kFilterNorm * (|a~| + |b~|) + kFilterAbsolute, where T is the exact real
// weighted sum sum_e w_e (a_e - b_e)^2 and |.| the Euclidean norms.
constexpr double kFilterRelative = 0x1p-20;  // covers 13.5 u, u = 2^-24
constexpr double kFilterNorm = 0x1p-22;      // covers 2.02 u
constexpr double kFilterAbsolute = 0x1p-70;  // covers the float underflows
// Margins that separate exact real sums far enough apart that the double
// distances sqrt(0.04 * S), S summed in double, cannot come out equal.
constexpr double kExactRelative = 1e-12;
constexpr double kExactAbsolute = 1e-140;

// Upper bound of the Euclidean norm of n floats (summed in double, inflated
// past its rounding error).
double normUpperBound(const float* v, int n);

// The largest filter sum a codeword may have and still be the nearest or tie
// with it, given the smallest filter sum of the node and M >= |a~| + max |b~|
// over the node's codewords: every codeword whose filter sum is above it
// has an exact distance strictly greater than that of the smallest one.
double survivorLimit(float smallest, double normSum);

}  // namespace nubo

#endif  // NUBO_ENGINE_SEARCH_FILTER_H_
