// Codebook loading: an iterative pre-order reader that checks every read, so a
// damaged file fails as a whole instead of leaving slots the search would trip on.
#include "engine/codebook.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "engine/search_filter.h"

namespace nubo {

namespace {

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t left() const { return size_ - pos_; }
  bool has(size_t n) const { return left() >= n; }
  void bytes(uint8_t* out, size_t n) {
    std::memcpy(out, data_ + pos_, n);
    pos_ += n;
  }
  uint32_t u32() {
    uint32_t v = static_cast<uint32_t>(data_[pos_]) | static_cast<uint32_t>(data_[pos_ + 1]) << 8 |
                 static_cast<uint32_t>(data_[pos_ + 2]) << 16 |
                 static_cast<uint32_t>(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return v;
  }
  float f32() {
    const uint32_t bits = u32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  // n little-endian floats at once (a plain copy on little-endian machines).
  void floats(float* out, size_t n) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(out, data_ + pos_, n * 4);
    pos_ += n * 4;
#else
    for (size_t k = 0; k < n; ++k) out[k] = f32();
#endif
  }
  size_t pos() const { return pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

Status truncated(size_t offset) {
  return Status(StatusCode::kInvalidData, "the file ends before the tree is complete (at byte " +
                                              std::to_string(offset) + ")");
}

// Reads 9 internal codewords (patch, then value) for node and opens its child block.
void readInternal(Reader* in, int node, Codebook* cb) {
  CodebookNode& n = cb->nodes[node];
  n.count = 0;
  n.firstCodeword = static_cast<int32_t>(cb->codewords.size());
  for (int k = 0; k < kBranching; ++k) {
    Codeword& cw = cb->codewords.emplace_back();
    in->floats(cw.patch.data(), kPatchSize);
    cw.value = in->f32();
    cb->values.push_back(cw.value);
  }
  const int first = static_cast<int>(cb->nodes.size());
  cb->nodes[node].firstChild = first;
  cb->nodes.resize(cb->nodes.size() + kBranching);
  for (int k = 0; k < kBranching; ++k) cb->nodes[first + k].parent = node;
}

// The filter's layout: every node's codewords prescaled, kFilterLanes side by
// side (lanes beyond the count hold 0 and are never read as results).
void packForFilter(Codebook* cb) {
  size_t total = 0;
  for (const CodebookNode& n : cb->nodes) {
    if (n.type <= 1)
      total +=
          static_cast<size_t>((n.count + kFilterLanes - 1) / kFilterLanes) * kFilterGroupValues;
  }
  cb->scaled.assign(total, 0.0f);
  size_t offset = 0;
  float scaledPatch[kPatchSize];
  for (CodebookNode& n : cb->nodes) {
    if (n.type > 1) continue;
    n.scaledOffset = static_cast<int64_t>(offset);
    bool within = n.count >= 1 && n.count <= kMaxFilterCodewords;
    double maxNorm = 0.0;
    for (int k = 0; k < n.count; ++k) {
      const Codeword& cw = cb->codewords[n.firstCodeword + k];
      float* group =
          cb->scaled.data() + offset + static_cast<size_t>(k / kFilterLanes) * kFilterGroupValues;
      for (int e = 0; e < kPatchSize; ++e) {
        scaledPatch[e] = kScaledWeights[e] * cw.patch[e];
        group[e * kFilterLanes + k % kFilterLanes] = scaledPatch[e];
        // Written so that NaN fails it too.
        if (!(std::fabs(scaledPatch[e]) <= kFilterLimit)) within = false;
      }
      if (within) maxNorm = std::max(maxNorm, normUpperBound(scaledPatch, kPatchSize));
    }
    n.filterable = within;
    n.maxScaledNorm = maxNorm;
    offset += static_cast<size_t>((n.count + kFilterLanes - 1) / kFilterLanes) * kFilterGroupValues;
  }
}

}  // namespace

int Codebook::depth() const {
  if (nodes.empty()) return 0;
  int deepest = 0;
  for (size_t i = 0; i < nodes.size(); ++i) {
    int d = 1;
    for (int p = nodes[i].parent; p >= 0; p = nodes[p].parent) ++d;
    deepest = std::max(deepest, d);
  }
  return deepest;
}

int Codebook::leafCount() const {
  return static_cast<int>(
      std::count_if(nodes.begin(), nodes.end(), [](const CodebookNode& n) { return n.type == 1; }));
}

Status parseCodebook(const uint8_t* data, size_t size, Codebook* codebook) {
  *codebook = Codebook();
  Codebook cb;
  Reader in(data, size);
  if (!in.has(kRootRecordBytes)) return truncated(size);
  // Room for everything the bytes can hold, so the arrays never move while
  // they are filled: every codeword takes at least 104 bytes and every
  // internal node (opening 9 slots) at least 948. Should a hostile file's
  // length ask for more memory than there is, the arrays grow as records are
  // read instead.
  try {
    cb.codewords.reserve(size / kCodewordRecordBytes);
    cb.values.reserve(size / kCodewordRecordBytes);
    cb.nodes.reserve(1 + kBranching * (size / kRootRecordBytes));
  } catch (const std::bad_alloc&) {
    cb = Codebook();
  }
  cb.nodes.emplace_back();
  in.bytes(cb.nodes[0].header.data(), 8);
  cb.nodes[0].type = in.u32();
  if (cb.nodes[0].type == 1) {
    return Status(StatusCode::kInvalidData, "the root record has type 1 (a leaf)");
  }
  readInternal(&in, 0, &cb);

  int cursor = 0;
  for (;;) {
    while (cb.nodes[cursor].count >= kBranching) {
      cursor = cb.nodes[cursor].parent;
      if (cursor < 0) {
        packForFilter(&cb);
        *codebook = std::move(cb);
        return Status::Ok();
      }
    }
    const int slot = cb.nodes[cursor].firstChild + cb.nodes[cursor].count;
    if (!in.has(12)) return truncated(size);
    in.bytes(cb.nodes[slot].header.data(), 8);
    const uint32_t type = in.u32();
    cb.nodes[slot].type = type;
    if (type == 0) {
      if (!in.has(kBranching * kCodewordRecordBytes)) return truncated(size);
      ++cb.nodes[cursor].count;
      readInternal(&in, slot, &cb);
      cursor = slot;
    } else if (type == 1) {
      if (!in.has(4)) return truncated(size);
      const int32_t count = static_cast<int32_t>(in.u32());
      if (count < 1) {
        return Status(StatusCode::kInvalidData, "a leaf at byte " + std::to_string(in.pos() - 16) +
                                                    " has " + std::to_string(count) + " codewords");
      }
      if (static_cast<uint64_t>(count) > in.left() / kCodewordRecordBytes) {
        return Status(StatusCode::kInvalidData, "a leaf at byte " + std::to_string(in.pos() - 16) +
                                                    " claims " + std::to_string(count) +
                                                    " codewords, more than the file holds");
      }
      ++cb.nodes[cursor].count;
      CodebookNode& leaf = cb.nodes[slot];
      leaf.count = count;
      leaf.firstCodeword = static_cast<int32_t>(cb.codewords.size());
      for (int32_t k = 0; k < count; ++k) {
        Codeword& cw = cb.codewords.emplace_back();
        in.floats(cw.patch.data(), kPatchSize);
        cw.value = in.f32();
        cb.values.push_back(cw.value);
      }
    }
    // Any other type: a 12-byte record that fills no slot; the next record
    // is read into the same slot.
  }
}

}  // namespace nubo
