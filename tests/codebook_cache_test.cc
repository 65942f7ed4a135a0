// The command line's codebook cache: one load per file for a whole batch.
#include "tools/codebook_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/test_codebooks.h"

namespace nubo {
namespace {

TEST(CodebookCache, LoadsEachFileOnceAndRemembersFailures) {
  std::map<std::string, int> loads;
  CodebookCache cache([&](Codebook* codebook, const std::string& path) {
    ++loads[path];
    if (path == "missing.cb") return Status(StatusCode::kCannotOpen, "can't open file " + path);
    *codebook = testing::codebookOf(testing::randomTree(2, path == "a.cb" ? 3 : 5, 1));
    return Status::Ok();
  });
  Status status;
  // A batch: pictures of two bands in turn, and a band whose codebook is missing.
  const Codebook* first = cache.get("a.cb", &status);
  ASSERT_NE(first, nullptr);
  for (int picture = 0; picture < 30; ++picture) {
    const char* path = picture % 3 == 0 ? "a.cb" : picture % 3 == 1 ? "b.cb" : "missing.cb";
    const Codebook* got = cache.get(path, &status);
    if (picture % 3 == 2) {
      EXPECT_EQ(got, nullptr);
      EXPECT_EQ(status.code(), StatusCode::kCannotOpen);
      EXPECT_EQ(status.message(), "can't open file missing.cb");
    } else {
      ASSERT_NE(got, nullptr);
      EXPECT_TRUE(status.ok());
      EXPECT_EQ(got->codewords.size(),
                testing::codebookOf(testing::randomTree(2, picture % 3 == 0 ? 3 : 5, 1))
                    .codewords.size());
    }
  }
  EXPECT_EQ(cache.get("a.cb", &status), first);  // the same codebook, not a copy
  EXPECT_EQ(loads, (std::map<std::string, int>{{"a.cb", 1}, {"b.cb", 1}, {"missing.cb", 1}}));
}

}  // namespace
}  // namespace nubo
