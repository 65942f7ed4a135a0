// The TSVQ codebook: a 9-ary tree of 5x5 codewords read from a little-endian
// binary file (no magic number; records in depth-first pre-order).
//
// Record layout (offsets in bytes):
//   root:        header[8] type:u32 then 9 x (25 x f32 patch, f32 value)  = 948 bytes
//   type 0 node: header[8] type:u32 then 9 codewords as above             = 948 bytes,
//                followed by the records of its 9 children, child 0 first
//   type 1 leaf: header[8] type:u32 count:i32 then count x (25 f32, f32)  = 16 + 104*count
//   other types: header[8] type:u32                                       = 12 bytes, skipped
#ifndef NUBO_ENGINE_CODEBOOK_H_
#define NUBO_ENGINE_CODEBOOK_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/status.h"

namespace nubo {

constexpr int kPatchSize = 25;  // 5x5 window, row-major, element 5*a+b
constexpr int kBranching = 9;   // children (and codewords) of every internal node
constexpr int kRootRecordBytes = 8 + 4 + kBranching * 104;
constexpr int kCodewordRecordBytes = 26 * 4;

struct Codeword {
  float value = 0.0f;  // companion value (internal nodes: stored, never used)
  std::array<float, kPatchSize> patch{};
};

// One node of the flat tree. Children of an internal node are the 9 consecutive
// entries of Codebook::nodes starting at firstChild; its codewords (and a leaf's
// codewords and companion values) start at firstCodeword.
struct CodebookNode {
  uint32_t type = 0;  // 0 internal, 1 leaf, anything else: no usable node
  std::array<uint8_t, 8> header{};
  int32_t count = 0;  // internal: children read (9 when complete); leaf: codewords
  int32_t parent = -1;
  int32_t firstChild = -1;
  int32_t firstCodeword = -1;
  int64_t scaledOffset = -1;  // start of this node's filter layout in Codebook::scaled
  // Upper bound of the Euclidean norm of the node's prescaled codewords.
  double maxScaledNorm = 0.0;
  // Whether the search may filter this node: type 0 or 1, 1..kMaxFilterCodewords
  // codewords, all prescaled values finite and within kFilterLimit.
  bool filterable = false;
};

struct Codebook {
  std::vector<CodebookNode> nodes;  // nodes[0] is the root; empty when nothing is loaded
  std::vector<Codeword> codewords;
  std::vector<float> values;  // companion value of every codeword, same index
  // The codewords multiplied element by element by the square roots of the
  // distance weights, as floats, in groups of 8 for the search's float filter
  // (see engine/search_filter.h).
  std::vector<float> scaled;

  bool empty() const { return nodes.empty(); }
  int depth() const;  // levels from the root to the deepest leaf (a root over leaves: 2)
  int leafCount() const;
};

// Parses a complete codebook from memory. Fails, leaving *codebook empty, when
// the data ends before the tree is complete, a leaf count is below 1 or larger
// than the remaining bytes can hold, or the root record has type 1. Bytes after
// the complete tree are ignored; records of types other than 0 and 1 are skipped.
Status parseCodebook(const uint8_t* data, size_t size, Codebook* codebook);

// A codebook under construction, as a plain recursive tree (for the writer, the
// trainer and tests). Internal nodes have exactly 9 patches and 9 children;
// leaves have at least one patch and one value per patch.
struct CodebookTree {
  uint32_t type = 0;
  std::array<uint8_t, 8> header{};
  std::vector<std::array<float, kPatchSize>> patches;
  std::vector<float> values;  // internal nodes: written as the codewords' value field
  std::vector<CodebookTree> children;
};

// Serialises a tree in the file format (pre-order). Fails on a malformed tree.
Status serializeCodebook(const CodebookTree& tree, std::vector<uint8_t>* out);

}  // namespace nubo

#endif  // NUBO_ENGINE_CODEBOOK_H_
