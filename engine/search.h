// Codebook search and the patch statistics used to normalise a patch.
// All sums are formed in double precision in element order 0..24, so results
// are bit-exact whatever the vector width of the machine.
#ifndef NUBO_ENGINE_SEARCH_H_
#define NUBO_ENGINE_SEARCH_H_

#include <vector>

#include "engine/codebook.h"

namespace nubo {

// Distance weights, row-major 5x5, symmetric, largest at the centre (sum 0.9995).
extern const double kPatchWeights[kPatchSize];

// Weighted distance sqrt(0.04 * sum_i w_i (a_i - b_i)^2), summed for i = 0..24.
double patchDistance(const float* a, const float* b);

// Mean of the 25 values: their double sum times 0.04.
double patchMean(const float* patch);

// Sample standard deviation (divisor 24) of the 25 values about mean.
double patchStdDev(double mean, const float* patch);

// Descends from node (0 = root) taking at every node the nearest codeword (an
// equal distance keeps the earlier codeword, a NaN distance always replaces the
// best) and returns the chosen leaf codeword's companion value. Returns -1.0f when
// the descent meets a node of a type other than 0 or 1, or a node where no
// codeword comes closer than the node's starting bound (100000 internal,
// 10000000 leaf). Iterative: a deep tree cannot exhaust the stack.
float searchCodebook(const float* patch, const Codebook& codebook, int node = 0);

// Same search, also returning the global codeword index of the leaf codeword
// chosen (-1 with the -1.0f result). Used by the trainer to partition patches
// exactly as the search does.
float searchCodebookIndex(const float* patch, const Codebook& codebook, int* codewordIndex);

// How the search finds a node's nearest codeword; every way gives the same
// result bit for bit. kFastest: a float filter that drops the codewords that
// certainly lose, then exact double distances of the rest, with AVX2 and FMA
// where the processor has them; kPortable: the same without them; kPlain:
// every distance exact. For tests and measurements: a process-wide setting.
enum class SearchPath { kFastest, kPortable, kPlain };
void setSearchPath(SearchPath path);
SearchPath searchPath();

// Buffers that searchCodebookBatch reuses from call to call (one per thread).
struct SearchBuffers {
  struct Group {
    int node, begin, end;  // patches [begin, end) of a level have reached node
  };
  std::vector<float> patches[2];  // prescaled for the search's filter
  std::vector<double> norms[2];   // their norm bounds (-1: not filterable)
  std::vector<int> origin[2];
  std::vector<int> child;
  std::vector<Group> groups[2];
};

// Batches of at least this many patches are searched level by level, grouped
// by node (with buffers); smaller ones with interleaved descents.
constexpr int kGroupedFrom = 256;

// Searches count patches (count x kPatchSize floats, one after the other):
// values[k] = searchCodebook(patch k, codebook), bit for bit. Faster per patch
// than one search at a time: the descents overlap their memory reads and,
// given buffers, patches that reach the same node are searched together.
void searchCodebookBatch(const float* patches, int count, const Codebook& codebook, float* values,
                         SearchBuffers* buffers = nullptr);

}  // namespace nubo

#endif  // NUBO_ENGINE_SEARCH_H_
