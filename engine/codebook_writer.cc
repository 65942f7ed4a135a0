// Codebook serialisation: the inverse of the parser, used by the trainer and tests.
#include <cstring>

#include "engine/codebook.h"

namespace nubo {

namespace {

void putU32(uint32_t v, std::vector<uint8_t>* out) {
  for (int k = 0; k < 4; ++k) out->push_back(static_cast<uint8_t>(v >> (8 * k)));
}

void putF32(float f, std::vector<uint8_t>* out) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  putU32(bits, out);
}

void putCodeword(const std::array<float, kPatchSize>& patch, float value,
                 std::vector<uint8_t>* out) {
  for (float v : patch) putF32(v, out);
  putF32(value, out);
}

Status put(const CodebookTree& node, bool isRoot, std::vector<uint8_t>* out) {
  out->insert(out->end(), node.header.begin(), node.header.end());
  putU32(node.type, out);
  const bool internal = node.type == 0 || (isRoot && node.type != 1);
  if (internal) {
    if (node.patches.size() != kBranching || node.children.size() != kBranching ||
        (!node.values.empty() && node.values.size() != kBranching)) {
      return Status(StatusCode::kInvalidArgument,
                    "an internal node needs 9 codewords and 9 children");
    }
    for (int k = 0; k < kBranching; ++k) {
      putCodeword(node.patches[k], node.values.empty() ? 0.0f : node.values[k], out);
    }
    for (const CodebookTree& child : node.children) {
      Status s = put(child, false, out);
      if (!s.ok()) return s;
    }
    return Status::Ok();
  }
  if (node.type != 1 || isRoot) {
    return Status(StatusCode::kInvalidArgument, "a node must be internal (0) or a leaf (1)");
  }
  if (node.patches.empty() || node.values.size() != node.patches.size() || !node.children.empty()) {
    return Status(StatusCode::kInvalidArgument,
                  "a leaf needs at least one codeword and one value each");
  }
  putU32(static_cast<uint32_t>(node.patches.size()), out);
  for (size_t k = 0; k < node.patches.size(); ++k)
    putCodeword(node.patches[k], node.values[k], out);
  return Status::Ok();
}

}  // namespace

Status serializeCodebook(const CodebookTree& tree, std::vector<uint8_t>* out) {
  out->clear();
  return put(tree, true, out);
}

}  // namespace nubo
