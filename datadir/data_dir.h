// Where the shipped data (codebooks, index, logo) is found: the folder below
// the start-up folder, $NUBO_DATA_DIR, the installation's share folder found
// from the program's own location, and the source tree for a program run from
// its build folder. The search itself is pure (the file-system test is passed
// in); gatherDataDirSources is the one place that reads the environment.
#ifndef NUBO_DATADIR_DATA_DIR_H_
#define NUBO_DATADIR_DATA_DIR_H_

#include <functional>
#include <string>
#include <vector>

namespace nubo {

// Installed data lives in <prefix>/share/nubo/data, the programs in <prefix>/bin.
constexpr const char* kInstalledDataDirFromBin = "../share/nubo/data";

// Environment variable that names a data folder.
constexpr const char* kDataDirVariable = "NUBO_DATA_DIR";

// Everything the search looks at; empty strings mean "not available".
struct DataDirSources {
  std::string explicitDir;            // --data-dir: when set, the only folder tried
  std::string startDataDir = "data";  // data/ below the folder current at start-up
  std::string environmentDir;         // value of $NUBO_DATA_DIR
  std::string executablePath;         // the running program, absolute (from /proc/self/exe)
  std::string buildDir;               // folder the programs were built into
  std::string sourceDataDir;          // the source tree's data/, for programs run from buildDir
};

// The outcome of a search.
struct DataDirResult {
  std::string dir;           // folder used; empty when no candidate qualified
  bool firstChoice = false;  // dir is the first folder tried
  // dir is where a user expects it: the folder asked for with --data-dir, data/
  // below the start-up folder or the installed data beside the program. Other
  // folders ($NUBO_DATA_DIR, the source tree) are worth naming on standard error.
  bool usual = false;
  std::vector<std::string> tried;  // every candidate in the order tried, up to and including dir
};

// The candidate folders in search order: explicitDir alone when it is set;
// otherwise startDataDir, environmentDir, <dir of executablePath>/../share/nubo/data
// (lexically normalised), and sourceDataDir when executablePath lies directly
// in buildDir. Empty sources and repeats are left out.
std::vector<std::string> dataDirCandidates(const DataDirSources& sources);

// The first candidate for which usable(folder) is true. Never touches the
// file system itself; fills tried with the folders tested.
DataDirResult findDataDir(const DataDirSources& sources,
                          const std::function<bool(const std::string&)>& usable);

// True when folder holds a regular file named "data" (the quality-independent
// codebook that every data folder ships).
bool holdsCodebook(const std::string& folder);

// The sources of this process: explicitDir as given, $NUBO_DATA_DIR,
// /proc/self/exe, and the build and source folders compiled into the program.
DataDirSources gatherDataDirSources(const std::string& explicitDir);

// One line for a failed search: "no codebook found in A, B or C".
std::string describeFailedSearch(const DataDirResult& result);

}  // namespace nubo

#endif  // NUBO_DATADIR_DATA_DIR_H_
