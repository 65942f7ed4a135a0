// nubo-clean: removes ringing from photos on the command line, exactly as the
// load, clean and save commands of the window do, without a window.
#include <unistd.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "datadir/data_dir.h"
#include "engine/codebook.h"
#include "engine/ringing.h"
#include "imageio/clean_run.h"
#include "imageio/image_io.h"
#include "jpegutil/jpeg_util.h"
#include "tools/cli_util.h"
#include "tools/codebook_cache.h"

namespace {

// The end of --help: the data search, examples and exit statuses (the man page
// is made from --help, so this is its one source).
constexpr const char* kHelpFooter =
    "Data folder: the first that holds a codebook file \"data\" of: --data-dir DIR when\n"
    "given (then the only one); data/ below the current folder; $NUBO_DATA_DIR; the\n"
    "installed data, <folder of the program>/../share/nubo/data; the source tree's data/\n"
    "for a program run from its build folder. Its file \"index\" maps JPEG qualities to\n"
    "codebooks. Standard error names the folder when it is not the first.\n"
    "\n"
    "Examples:\n"
    "  nubo-clean photo.jpg photo-clean.png\n"
    "  nubo-clean --out-dir cleaned --format png holiday/*.jpg\n"
    "  nubo-clean --codebook my.cb --smooth scan.bmp scan-clean.bmp\n"
    "\n"
    "Exit status:\n"
    "  0 every picture was cleaned, 1 some picture or the codebook failed,\n"
    "  2 wrong or missing arguments.\n";

struct Options {
  std::string codebook;  // empty: choose by the input's JPEG quality
  std::string dataDir;   // empty: searched (see kHelpFooter)
  bool smooth = false;
  bool keepUntouched = false;
  int threads = 0;
  bool force = false;
  std::string outDir;
  std::string format = "bmp";
  std::vector<std::string> paths;
};

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Output file for input when writing into a folder: the input's name with its
// extension replaced.
std::string derivedOutput(const std::string& input, const std::string& dir,
                          const std::string& format) {
  std::string name = baseName(input);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return dir + "/" + name + "." + format;
}

// Loads a codebook for the cache, printing the line a missing file gets.
nubo::Status loadAndReport(nubo::Codebook* codebook, const std::string& path) {
  nubo::Status status = nubo::loadCodebook(codebook, path);
  if (status.code() == nubo::StatusCode::kCannotOpen) {
    std::printf("can't open file %s\n", path.c_str());
    std::fflush(stdout);
  }
  return status;
}

class Cleaner {
 public:
  explicit Cleaner(const Options& options)
      : options_(options), tty_(::isatty(2) != 0), pool_(options.threads) {}

  // Cleans one input into output; prints one line naming the file on failure.
  bool run(const std::string& input, const std::string& output) {
    nubo::ImageFormat format = nubo::ImageFormat::kBmp;
    std::string target = output;
    const std::string ext = nubo::lowerExtension(output);
    if (ext == "png") {
      format = nubo::ImageFormat::kPng;
    } else if (ext != "bmp" && !nubo::applyBmpExtensionRule(&target)) {
      return fail(output, "the path is too long to add \".bmp\"");
    }
    if (target.size() > nubo::kMaxPathBytes) return fail(output, "the path is too long");
    if (!options_.force && ::access(target.c_str(), F_OK) == 0) {
      return fail(target, "exists (use --force to overwrite)");
    }

    current_ = input;
    nubo::DecodedImage picture;
    nubo::Status status = nubo::decodeImageFile(input, &picture);
    if (!status.ok()) return fail(input, status.message());
    std::string codebookPath = options_.codebook;
    if (codebookPath.empty()) {
      endProgress();
      nubo::CodebookChoice choice;
      const nubo::Status s = nubo::selectCodebookForFile(options_.dataDir, input, &choice);
      if (!s.ok() && s.code() != nubo::StatusCode::kCannotOpen) {
        std::fprintf(stderr, "nubo-clean: warning: %s\n", s.message().c_str());
      }
      codebookPath = choice.path;
      if (choice.estimatedQuality >= 0) {
        std::fprintf(stderr, "nubo-clean: %s: estimated JPEG quality %d, codebook %s\n",
                     input.c_str(), choice.estimatedQuality, codebookPath.c_str());
      } else {
        std::fprintf(stderr, "nubo-clean: %s: not a JPEG, codebook %s\n", input.c_str(),
                     codebookPath.c_str());
      }
    }
    const nubo::Codebook* codebook = codebooks_.get(codebookPath, &status);
    if (codebook == nullptr) {
      return fail(input, "no codebook is loaded (" + status.message() + ")");
    }

    nubo::CleanOptions clean;
    clean.smoothNonEdge = options_.smooth;
    clean.threads = options_.threads;
    clean.keepUntouched = options_.keepUntouched;
    // Band by band straight into the output file: the same bytes as the
    // window's load, clean and save, in a fraction of the memory.
    status = nubo::cleanToFile(&picture, *codebook, clean, &pool_, target, format, options_.force,
                               progress(), nullptr);
    endProgress();
    if (!status.ok()) return fail(target, status.message());
    return true;
  }

 private:
  nubo::StatusCallback progress() {
    if (!tty_) return {};
    return [this](const std::string& text) {
      std::fprintf(stderr, "\r\033[K%s: %s", current_.c_str(), text.c_str());
      std::fflush(stderr);
      progressShown_ = true;
    };
  }

  void endProgress() {
    if (progressShown_) std::fputc('\n', stderr);
    progressShown_ = false;
  }

  bool fail(const std::string& file, const std::string& reason) {
    endProgress();
    std::fprintf(stderr, "nubo-clean: %s: %s\n", file.c_str(), reason.c_str());
    return false;
  }

  const Options& options_;
  const bool tty_;
  bool progressShown_ = false;
  std::string current_;
  nubo::CodebookCache codebooks_{loadAndReport};
  nubo::ThreadPool pool_;  // one set of workers for every file of the run
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{
      "Removes JPEG ringing from photos: nubo-clean [options] INPUT OUTPUT, or\n"
      "nubo-clean [options] --out-dir DIR INPUT...\n"
      "OUTPUT ending in .png is written as PNG, anything else as BMP (\".bmp\" is added\n"
      "when the name holds no BMP extension).",
      "nubo-clean"};
  app.add_option("--codebook", options.codebook,
                 "codebook file (default: chosen from the data folder's index by the input's "
                 "JPEG quality, else its file data)");
  app.add_option("--data-dir", options.dataDir,
                 "folder of the shipped codebooks (default: searched, see below)");
  app.add_flag("--smooth", options.smooth, "smooth the non-edge area");
  app.add_flag("--keep-untouched", options.keepUntouched,
               "keep the input bytes of pixels whose luminance is not changed");
  app.add_option("--threads", options.threads, "worker threads (0: all cores)")
      ->check(CLI::Range(0, 1024))
      ->capture_default_str();
  app.add_flag("-f,--force", options.force, "overwrite existing output files");
  app.add_option("--out-dir", options.outDir, "write every result into this folder");
  app.add_option("--format", options.format, "output format with --out-dir")
      ->check(CLI::IsMember({"bmp", "png"}))
      ->capture_default_str();
  app.add_option("paths", options.paths, "INPUT OUTPUT, or INPUT... with --out-dir")->required();
  app.footer(kHelpFooter);
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }

  std::vector<std::pair<std::string, std::string>> jobs;
  if (options.outDir.empty()) {
    if (options.paths.size() != 2) {
      return nubo::cli::usageError("nubo-clean",
                                   "give INPUT and OUTPUT, or --out-dir DIR with inputs");
    }
    jobs.emplace_back(options.paths[0], options.paths[1]);
  } else {
    for (const std::string& input : options.paths) {
      jobs.emplace_back(input, derivedOutput(input, options.outDir, options.format));
    }
  }

  if (options.codebook.empty()) {
    const nubo::DataDirResult found =
        nubo::findDataDir(nubo::gatherDataDirSources(options.dataDir), nubo::holdsCodebook);
    if (found.dir.empty() && options.dataDir.empty()) {
      std::fprintf(stderr, "nubo-clean: %s (set %s or use --data-dir)\n",
                   nubo::describeFailedSearch(found).c_str(), nubo::kDataDirVariable);
      return nubo::cli::kExitFailure;
    }
    if (!found.dir.empty()) options.dataDir = found.dir;
    if (!found.firstChoice && !found.dir.empty()) {
      std::fprintf(stderr, "nubo-clean: using the data folder %s\n", found.dir.c_str());
    }
  }

  Cleaner cleaner(options);
  int failures = 0;
  for (const auto& [input, output] : jobs) {
    try {
      if (!cleaner.run(input, output)) ++failures;
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "nubo-clean: %s: out of memory\n", input.c_str());
      ++failures;
    }
  }
  return failures == 0 ? nubo::cli::kExitOk : nubo::cli::kExitFailure;
}
