// Codebooks loaded once per file and shared by every picture of a run that
// uses them (a batch switches between a few quality bands).
#ifndef NUBO_TOOLS_CODEBOOK_CACHE_H_
#define NUBO_TOOLS_CODEBOOK_CACHE_H_

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "engine/codebook.h"
#include "engine/status.h"

namespace nubo {

class CodebookCache {
 public:
  using Loader = std::function<Status(Codebook*, const std::string&)>;

  explicit CodebookCache(Loader loader) : loader_(std::move(loader)) {}

  // The codebook at path, loaded on the first request only; a failed load is
  // remembered too (the same status every time, no second attempt). Null on
  // failure, with *status set either way.
  const Codebook* get(const std::string& path, Status* status) {
    auto it = cache_.find(path);
    if (it == cache_.end()) {
      Entry entry;
      entry.status = loader_(&entry.codebook, path);
      it = cache_.emplace(path, std::move(entry)).first;
    }
    *status = it->second.status;
    return it->second.status.ok() ? &it->second.codebook : nullptr;
  }

 private:
  struct Entry {
    Codebook codebook;
    Status status;
  };
  Loader loader_;
  std::map<std::string, Entry> cache_;
};

}  // namespace nubo

#endif  // NUBO_TOOLS_CODEBOOK_CACHE_H_
