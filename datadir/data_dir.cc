// The data-folder search: candidates in order, the first usable one wins.
#include "datadir/data_dir.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace nubo {

namespace fs = std::filesystem;

namespace {

void addCandidate(const std::string& dir, std::vector<std::string>* out) {
  if (dir.empty()) return;
  if (std::find(out->begin(), out->end(), dir) != out->end()) return;
  out->push_back(dir);
}

// a and b name the same folder, ignoring "." parts and trailing slashes.
bool sameFolder(const std::string& a, const std::string& b) {
  fs::path pa = fs::path(a).lexically_normal(), pb = fs::path(b).lexically_normal();
  if (!pa.has_filename()) pa = pa.parent_path();
  if (!pb.has_filename()) pb = pb.parent_path();
  return pa == pb;
}

// The installed data folder for the program at executablePath; empty when unknown.
std::string installedDataDir(const DataDirSources& sources) {
  if (sources.executablePath.empty() || !fs::path(sources.executablePath).is_absolute()) return "";
  const fs::path bin = fs::path(sources.executablePath).parent_path();
  return (bin / kInstalledDataDirFromBin).lexically_normal().string();
}

}  // namespace

std::vector<std::string> dataDirCandidates(const DataDirSources& sources) {
  std::vector<std::string> out;
  if (!sources.explicitDir.empty()) {
    out.push_back(sources.explicitDir);
    return out;
  }
  addCandidate(sources.startDataDir, &out);
  addCandidate(sources.environmentDir, &out);
  if (!sources.executablePath.empty() && fs::path(sources.executablePath).is_absolute()) {
    const fs::path bin = fs::path(sources.executablePath).parent_path();
    addCandidate(installedDataDir(sources), &out);
    if (!sources.buildDir.empty() && sameFolder(bin.string(), sources.buildDir)) {
      addCandidate(sources.sourceDataDir, &out);
    }
  }
  return out;
}

DataDirResult findDataDir(const DataDirSources& sources,
                          const std::function<bool(const std::string&)>& usable) {
  DataDirResult result;
  for (const std::string& dir : dataDirCandidates(sources)) {
    result.tried.push_back(dir);
    if (usable(dir)) {
      result.dir = dir;
      result.firstChoice = result.tried.size() == 1;
      result.usual = !sources.explicitDir.empty() || dir == sources.startDataDir ||
                     dir == installedDataDir(sources);
      break;
    }
  }
  return result;
}

bool holdsCodebook(const std::string& folder) {
  struct stat st;
  const std::string path = folder + "/data";
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

DataDirSources gatherDataDirSources(const std::string& explicitDir) {
  DataDirSources sources;
  sources.explicitDir = explicitDir;
  if (const char* env = std::getenv(kDataDirVariable)) sources.environmentDir = env;
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) sources.executablePath = self.string();
#ifdef NUBO_BUILD_DIR
  // /proc/self/exe has its symbolic links resolved; the build folder must too.
  const fs::path build = fs::weakly_canonical(NUBO_BUILD_DIR, ec);
  sources.buildDir = ec ? std::string(NUBO_BUILD_DIR) : build.string();
#endif
#ifdef NUBO_SOURCE_DATA_DIR
  sources.sourceDataDir = NUBO_SOURCE_DATA_DIR;
#endif
  return sources;
}

std::string describeFailedSearch(const DataDirResult& result) {
  std::string text = "no codebook found in ";
  for (size_t i = 0; i < result.tried.size(); ++i) {
    if (i > 0) text += i + 1 == result.tried.size() ? " or " : ", ";
    text += result.tried[i];
  }
  if (result.tried.empty()) text += "any folder";
  return text;
}

}  // namespace nubo
