// nubo-clean: removes ringing from photos on the command line, exactly as the
// load, clean and save commands of the window do, without a window.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "app/output_name.h"
#include "codebooks/codebook_choice.h"
#include "datadir/data_dir.h"
#include "engine/codebook.h"
#include "engine/ringing.h"
#include "fileio/codebook_file.h"
#include "imageio/image_io.h"
#include "tools/clean_run.h"
#include "tools/cli_util.h"

namespace {

// The end of --help: output names, the data search, exit statuses and examples
// (the man page is made from --help, so this is its one source).
constexpr const char* kHelpFooter =
    "Output names: OUTPUT ending in .png is written as PNG, any other as BMP; \".bmp\"\n"
    "(or \".png\" with --format png) is added to the name of a regular file that\n"
    "holds no such extension. An OUTPUT that is an existing folder or ends in \"/\"\n"
    "means that folder, as --out-dir does: each result takes its input's name with\n"
    "the extension replaced (folders are created when missing). \"-\" as INPUT reads\n"
    "standard input, as OUTPUT writes standard output (BMP, or PNG with --format\n"
    "png); devices and pipes such as /dev/stdout are written as they are. Inputs\n"
    "that would land on the same output name are refused before anything is\n"
    "cleaned. PNG output carries the input's ICC profile, EXIF and XMP; BMP output\n"
    "carries no metadata.\n"
    "\n"
    "Pixels: a pixel whose luminance the cleaning leaves as it was keeps its input\n"
    "bytes, a changed grey pixel stays grey; --convert-all converts every interior\n"
    "pixel back from YIQ instead, which may lose a level per channel.\n"
    "\n"
    "Data folder: the first that holds a codebook file \"data\" of: --data-dir DIR when\n"
    "given (then the only one); data/ below the current folder; $NUBO_DATA_DIR; the\n"
    "installed data, <folder of the program>/../share/nubo/data; the source tree's data/\n"
    "for a program run from its build folder. Its file \"index\" maps JPEG qualities to\n"
    "codebooks. Standard error names the folder when it is neither data/ below the\n"
    "current folder nor the installed one, or with --verbose.\n"
    "\n"
    "Exits with 0 when every picture was cleaned, 1 when some picture or the\n"
    "codebook failed, 2 for wrong or missing arguments (then nothing is cleaned).\n"
    "\n"
    "Examples:\n"
    "  nubo-clean photo.jpg photo-clean.png\n"
    "\n"
    "  nubo-clean --out-dir cleaned --format png holiday/*.jpg\n"
    "\n"
    "  nubo-clean --codebook my.cb --smooth scan.bmp scan-clean.bmp\n"
    "\n"
    "  cat photo.jpg | nubo-clean --format png - - >photo-clean.png\n";

// The name standard input goes by in messages.
constexpr const char* kStandardInputName = "standard input";

struct Options {
  std::string codebook;  // empty: choose by the input's JPEG quality
  std::string dataDir;   // empty: searched (see kHelpFooter)
  bool smooth = false;
  bool convertAll = false;
  bool keepUntouched = false;  // accepted for old scripts: what the default does
  bool verbose = false;
  int threads = 0;
  bool force = false;
  std::string outDir;
  std::string format;  // empty: by the output name (BMP unless it ends in .png)
  std::vector<std::string> paths;
};

// One picture to clean: where from, where to and as what.
struct Job {
  std::string input;
  std::string output;
  nubo::ImageFormat format = nubo::ImageFormat::kBmp;
};

std::string baseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string formatName(nubo::ImageFormat format) {
  return format == nubo::ImageFormat::kPng ? "png" : "bmp";
}

bool isFolder(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(path, ec);
}

// Output file for input when writing into a folder: the input's name with its
// extension replaced.
std::string derivedOutput(const std::string& input, const std::string& dir,
                          nubo::ImageFormat format) {
  std::string name = baseName(input);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  std::string folder = dir;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return (folder == "/" ? folder : folder + "/") + name + "." + formatName(format);
}

// A name that says which picture format it holds.
bool isImageExtension(const std::string& ext) {
  for (const char* known : {"bmp", "png", "jpg", "jpeg", "jpe", "tif", "tiff", "gif", "webp"}) {
    if (ext == known) return true;
  }
  return false;
}

// Key under which two output names are the same file.
std::string sameFileKey(const std::string& path) {
  if (nubo::outputKindOf(path) != nubo::OutputKind::kRegularFile) return path;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

// Turns the command line into jobs. Returns -1 when all is well, otherwise the
// exit status after printing the one line of a usage error. *folder receives
// the output folder to create (empty when none).
int planJobs(const Options& options, bool formatGiven, bool outDirGiven, std::vector<Job>* jobs,
             std::string* folder) {
  const auto usage = [](const std::string& message) {
    return nubo::cli::usageError("nubo-clean", message);
  };
  const nubo::ImageFormat given =
      options.format == "png" ? nubo::ImageFormat::kPng : nubo::ImageFormat::kBmp;
  std::vector<std::string> inputs = options.paths;
  if (!outDirGiven) {
    if (options.paths.size() < 2) {
      return usage("give INPUT and OUTPUT, or --out-dir DIR with inputs");
    }
    const std::string output = options.paths.back();
    inputs.pop_back();
    if (output.empty()) return usage("the OUTPUT name is empty");
    if (output != "-" && (output.back() == '/' || isFolder(output))) {
      *folder = output;
    } else if (inputs.size() > 1) {
      return usage("several inputs need --out-dir DIR, or a folder as OUTPUT");
    }
  } else {
    if (options.outDir.empty()) return usage("the --out-dir name is empty");
    *folder = options.outDir;
  }
  int fromStandardInput = 0;
  for (const std::string& input : inputs) {
    if (input.empty()) return usage("an INPUT name is empty");
    if (input == "-" && ++fromStandardInput > 1) {
      return usage("standard input (\"-\") can be read only once");
    }
  }
  if (!folder->empty()) {
    for (const std::string& input : inputs) {
      if (input == "-") {
        return usage(
            "standard input (\"-\") has no name to derive an output name from; "
            "give an OUTPUT file");
      }
      jobs->push_back({input, derivedOutput(input, *folder, given), given});
    }
  } else {
    Job job{inputs[0], options.paths.back(), given};
    const nubo::OutputKind kind = nubo::outputKindOf(job.output);
    if (kind == nubo::OutputKind::kRegularFile) {
      const std::string ext = nubo::lowerExtension(job.output);
      if (formatGiven && isImageExtension(ext) && ext != options.format) {
        return usage("OUTPUT " + job.output + " is named ." + ext + " but --format is " +
                     options.format);
      }
      if (!formatGiven && ext == "png") job.format = nubo::ImageFormat::kPng;
      // The extension is added only to names of regular files to be created.
      if (job.format == nubo::ImageFormat::kPng) {
        if (ext != "png") job.output += ".png";
      } else if (ext != "bmp" && !nubo::applyBmpExtensionRule(&job.output)) {
        job.output += ".bmp";  // too long: refused below, when the file is written
      }
    }
    jobs->push_back(job);
  }
  // Two inputs that would land on the same name: refuse them all before any work.
  std::map<std::string, const Job*> seen;
  for (const Job& job : *jobs) {
    const auto [at, fresh] = seen.emplace(sameFileKey(job.output), &job);
    if (!fresh) {
      return usage(at->second->input + " and " + job.input + " would both be written to " +
                   job.output + "; nothing was cleaned");
    }
  }
  return -1;
}

// Reads all of standard input (at most 4 GiB).
nubo::Status readStandardInput(std::vector<uint8_t>* bytes) {
  constexpr size_t kMaxBytes = (size_t{1} << 32) - 1;
  bytes->clear();
  uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(0, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return nubo::Status(nubo::StatusCode::kIoError, std::strerror(errno));
    if (n == 0) return nubo::Status::Ok();
    if (bytes->size() + static_cast<size_t>(n) > kMaxBytes) {
      return nubo::Status(nubo::StatusCode::kTooLarge, "file too large");
    }
    bytes->insert(bytes->end(), chunk, chunk + n);
  }
}

// Key under which an input and an earlier output are the same file (links
// followed where they exist).
std::string sameFileOnDisk(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
  return ec ? sameFileKey(path) : canonical.string();
}

// Which inputs may be read before the pictures ahead of them are written: the
// regular files there are now that no earlier job writes to. Standard input,
// devices, pipes and names that lead nowhere yet (a link to an output still to
// be written) are read in turn.
std::vector<bool> readableAhead(const std::vector<Job>& jobs) {
  std::vector<bool> ahead;
  std::set<std::string> written;
  for (const Job& job : jobs) {
    std::error_code ec;
    ahead.push_back(job.input != "-" && std::filesystem::is_regular_file(job.input, ec) &&
                    written.count(sameFileOnDisk(job.input)) == 0);
    written.insert(sameFileOnDisk(job.output));
  }
  return ahead;
}

// What is read of an input before its turn: the decoded picture and, when it
// was not loaded yet, the codebook it will ask for (loaded without a word: a
// codebook that fails here is loaded again in turn, which reports it).
struct Prepared {
  nubo::Status status;
  nubo::DecodedImage picture;
  std::string codebookPath;
  std::unique_ptr<nubo::Codebook> codebook;  // null when not loaded ahead
};

// The codebook a file input will ask for: the one given, or the one chosen by
// its JPEG quality (nothing is printed here; the choice is reported in turn).
std::string codebookPathFor(const Options& options, const std::string& input) {
  if (!options.codebook.empty()) return options.codebook;
  nubo::CodebookChoice choice;
  nubo::selectCodebookForFile(options.dataDir, input, &choice);
  return choice.path;
}

// Loads the codebook at path unless it is in known; null when it is known or
// fails to load.
std::unique_ptr<nubo::Codebook> loadAhead(const std::string& path,
                                          const std::set<std::string>& known) {
  if (path.empty() || known.count(path) != 0) return nullptr;
  try {
    auto codebook = std::make_unique<nubo::Codebook>();
    if (!nubo::loadCodebook(codebook.get(), path).ok()) return nullptr;
    return codebook;
  } catch (const std::bad_alloc&) {
    return nullptr;  // loaded again in turn, which reports it
  }
}

// Decodes a file input and loads the codebook it will ask for (on a thread of
// its own, while the picture before it is cleaned).
Prepared prepare(const Options& options, const std::string& input, std::set<std::string> known) {
  Prepared prepared;
  prepared.status = nubo::decodeImageFile(input, &prepared.picture);
  if (prepared.status.ok()) {
    prepared.codebookPath = codebookPathFor(options, input);
    prepared.codebook = loadAhead(prepared.codebookPath, known);
  }
  return prepared;
}

class Cleaner {
 public:
  explicit Cleaner(const Options& options)
      : options_(options),
        tty_(::isatty(2) != 0),
        codebooks_([this](nubo::Codebook* codebook, const std::string& path) {
          return loadCodebook(codebook, path);
        }),
        pool_(options.threads) {}

  // Cleans every job in turn; returns how many failed. The next file input is
  // decoded on a second thread while the current one is cleaned (one picture
  // ahead at most); every message still comes in turn, as run prints it.
  int runAll(const std::vector<Job>& jobs) {
    const std::vector<bool> ahead = readableAhead(jobs);
    std::future<Prepared> next;
    if (!jobs.empty() && ahead[0]) {
      // The first codebook loads here while the first picture is decoded on
      // the other thread, which is told not to load it again.
      std::string path;
      try {
        path = codebookPathFor(options_, jobs[0].input);
      } catch (const std::bad_alloc&) {
        // loaded in turn
      }
      std::set<std::string> known = requested_;
      if (!path.empty()) known.insert(path);
      next = launch(jobs[0], known);
      if (next.valid() && !path.empty()) {
        try {
          keep(path, loadAhead(path, requested_));
        } catch (const std::bad_alloc&) {
          // loaded in turn
        }
      }
    }
    for (size_t i = 0; i < jobs.size(); ++i) {
      std::future<Prepared> current = std::move(next);
      try {
        std::unique_ptr<Prepared> prepared;
        if (current.valid()) prepared = std::make_unique<Prepared>(current.get());
        if (i + 1 < jobs.size() && ahead[i + 1]) next = launch(jobs[i + 1], requested_);
        if (!run(jobs[i], prepared.get())) ++failures_;
      } catch (const std::bad_alloc&) {
        finishWrite();
        std::fprintf(stderr, "nubo-clean: %s: out of memory\n", jobs[i].input.c_str());
        ++failures_;
      }
    }
    finishWrite();
    return failures_;
  }

 private:
  // Starts decoding job's input on a thread of its own; an invalid future when
  // no thread can be started (then run decodes it in turn).
  // known: the codebooks it need not load.
  std::future<Prepared> launch(const Job& job, const std::set<std::string>& known) {
    try {
      return std::async(std::launch::async, prepare, std::cref(options_), job.input, known);
    } catch (const std::system_error&) {
      return {};
    }
  }

  // Keeps a codebook loaded ahead for the cache's first request of path.
  void keep(const std::string& path, std::unique_ptr<nubo::Codebook> codebook) {
    if (codebook == nullptr || requested_.count(path) != 0) return;
    requested_.insert(path);
    loadedAhead_[path] = std::move(codebook);
  }

  // The cache's loader: a codebook loaded ahead, else the file, reporting a
  // missing one as always.
  nubo::Status loadCodebook(nubo::Codebook* codebook, const std::string& path) {
    const auto it = loadedAhead_.find(path);
    if (it == loadedAhead_.end()) return nubo::loadCodebookReportingMissing(codebook, path);
    *codebook = std::move(*it->second);
    loadedAhead_.erase(it);
    return nubo::Status::Ok();
  }

  // Waits for the file being written, if any, and prints its failure, then
  // the messages held back meanwhile.
  void finishWrite() {
    if (!writing_.valid()) return;
    const Written written = writing_.get();
    writingKey_.clear();
    if (written.outOfMemory) {
      std::fprintf(stderr, "nubo-clean: %s: out of memory\n", writingInput_.c_str());
      ++failures_;
    } else if (!written.status.ok()) {
      std::fprintf(stderr, "nubo-clean: %s: %s\n", writingName_.c_str(),
                   written.status.message().c_str());
      ++failures_;
    }
    std::fputs(held_.c_str(), stderr);
    held_.clear();
  }

  // Writes bytes to the regular file job.output on a thread of its own while
  // the next picture is cleaned (here and now when no thread can be started).
  void startWrite(const Job& job, std::vector<uint8_t>&& bytes) {
    finishWrite();
    auto data = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
    const auto write = [path = job.output, overwrite = options_.force, data]() {
      Written written;
      try {
        written.status = nubo::writeOutput(path, *data, overwrite);
      } catch (const std::bad_alloc&) {
        written.outOfMemory = true;
      }
      return written;
    };
    try {
      writing_ = std::async(std::launch::async, write);
    } catch (const std::system_error&) {
      std::promise<Written> done;
      done.set_value(write());
      writing_ = done.get_future();
    }
    writingName_ = job.output;
    writingInput_ = job.input;
    writingKey_ = sameFileOnDisk(job.output);
  }

  // A line for standard error: held back while a file is being written (its
  // failure comes first), else printed.
  void say(const std::string& line) {
    if (writing_.valid()) {
      held_ += line;
    } else {
      std::fputs(line.c_str(), stderr);
    }
  }

  // Cleans one input into output; prints one line naming the file on failure.
  // prepared, when given, holds the input read ahead. A regular file is written
  // while the next picture is cleaned (not when progress is shown).
  bool run(const Job& job, Prepared* prepared) {
    const std::string& target = job.output;
    const bool regular = nubo::outputKindOf(target) == nubo::OutputKind::kRegularFile;
    const std::string name = job.input == "-" ? kStandardInputName : job.input;
    // An input read in turn, or an output written before, may be the file
    // being written: it is finished first.
    if (prepared == nullptr || !regular || sameFileOnDisk(target) == writingKey_) finishWrite();
    if (regular && target.size() > nubo::kMaxPathBytes) return fail(target, "the path is too long");
    if (regular && !options_.force && ::access(target.c_str(), F_OK) == 0) {
      return fail(target, "exists (use --force to overwrite)");
    }

    current_ = name;
    nubo::DecodedImage picture;
    std::vector<uint8_t> bytes;  // standard input's, kept for the quality estimate
    nubo::Status status;
    if (prepared != nullptr) {
      status = prepared->status;
      picture = std::move(prepared->picture);
      keep(prepared->codebookPath, std::move(prepared->codebook));
    } else if (job.input == "-") {
      status = readStandardInput(&bytes);
      if (status.ok()) status = nubo::decodeImage(bytes.data(), bytes.size(), &picture);
    } else {
      status = nubo::decodeImageFile(job.input, &picture);
    }
    if (!status.ok()) return fail(name, status.message());
    if (!picture.warning.empty()) {
      say("nubo-clean: warning: " + name + ": " + picture.warning + "\n");
    }
    std::string codebookPath = options_.codebook;
    if (codebookPath.empty()) {
      endProgress();
      nubo::CodebookChoice choice;
      const nubo::Status s =
          job.input == "-"
              ? nubo::selectCodebook(options_.dataDir, bytes.data(), bytes.size(), &choice)
              : nubo::selectCodebookForFile(options_.dataDir, job.input, &choice);
      say(nubo::codebookChoiceReport("nubo-clean", name, s, choice));
      codebookPath = choice.path;
    }
    bytes = std::vector<uint8_t>();
    // A codebook loaded now may say so on standard output: after every earlier line.
    if (requested_.count(codebookPath) == 0) finishWrite();
    requested_.insert(codebookPath);
    const nubo::Codebook* codebook = codebooks_.get(codebookPath, &status);
    if (codebook == nullptr) {
      return fail(name, "no codebook is loaded (" + status.message() + ")");
    }

    nubo::CleanOptions clean;
    clean.smoothNonEdge = options_.smooth;
    clean.threads = options_.threads;
    clean.convertAll = options_.convertAll;
    // Band by band straight into the output file: the same bytes as the
    // window's load, clean and save, in a fraction of the memory.
    std::fflush(stdout);  // what we printed there goes before a picture written to it
    if (regular && !tty_) {
      std::vector<uint8_t> out;
      status = nubo::cleanToBytes(&picture, *codebook, clean, &pool_, job.format, progress(),
                                  nullptr, &out);
      if (status.ok()) {
        startWrite(job, std::move(out));
        return true;  // a failed write is reported and counted by finishWrite
      }
    } else {
      status = nubo::cleanToFile(&picture, *codebook, clean, &pool_, target, job.format,
                                 options_.force, progress(), nullptr);
    }
    endProgress();
    if (!status.ok()) return fail(job.output == "-" ? "standard output" : target, status.message());
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
    say("nubo-clean: " + file + ": " + reason + "\n");
    return false;
  }

  const Options& options_;
  const bool tty_;
  bool progressShown_ = false;
  std::string current_;
  std::set<std::string> requested_;  // codebooks asked of the cache or loaded ahead
  std::map<std::string, std::unique_ptr<nubo::Codebook>> loadedAhead_;  // not asked for yet
  nubo::CodebookCache codebooks_;  // a missing codebook is reported once per run
  nubo::ThreadPool pool_;          // one set of workers for every file of the run
  int failures_ = 0;
  struct Written {
    nubo::Status status;
    bool outOfMemory = false;
  };
  std::future<Written> writing_;  // the file being written, if any
  std::string writingName_, writingInput_, writingKey_;
  std::string held_;  // lines for standard error held back while it is written
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  CLI::App app{
      "Removes JPEG ringing from photos: nubo-clean [options] INPUT OUTPUT, or\n"
      "nubo-clean [options] --out-dir DIR INPUT..., or nubo-clean [options] INPUT... FOLDER/",
      "nubo-clean"};
  app.add_option("--codebook", options.codebook,
                 "codebook file (default: chosen from the data folder's index by the input's "
                 "JPEG quality, else its file data)");
  app.add_option("--data-dir", options.dataDir,
                 "folder of the shipped codebooks (default: searched, see below)");
  app.add_flag("--smooth", options.smooth, "smooth the non-edge area");
  app.add_flag("--convert-all", options.convertAll,
               "convert every interior pixel back from YIQ, changed or not (by default a pixel "
               "whose luminance is not changed keeps its input bytes)");
  app.add_flag("--keep-untouched", options.keepUntouched,
               "accepted for old scripts; what nubo-clean does by default");
  app.add_option("--threads", options.threads, "worker threads (0: all cores)")
      ->check(CLI::Range(0, 1024))
      ->capture_default_str();
  app.add_flag("-f,--force", options.force, "overwrite existing output files");
  app.add_option("--out-dir", options.outDir,
                 "write every result into this folder (created when missing)");
  app.add_option("--format", options.format,
                 "format of every output: bmp (no metadata) or png (with the input's ICC "
                 "profile, EXIF and XMP) (default: by the OUTPUT name, else bmp)")
      ->check(CLI::IsMember({"bmp", "png"}));
  app.add_flag("-v,--verbose", options.verbose, "name the data folder used, wherever it is");
  app.add_option("paths", options.paths,
                 "INPUT OUTPUT, INPUT... FOLDER/, or INPUT... with --out-dir (\"-\": standard "
                 "input or output)")
      ->required();
  app.footer(kHelpFooter);
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }
  if (options.convertAll && options.keepUntouched) {
    return nubo::cli::usageError("nubo-clean", "--convert-all and --keep-untouched contradict");
  }

  std::vector<Job> jobs;
  std::string folder;
  const bool outDirGiven = app.count("--out-dir") > 0;
  if (outDirGiven && options.outDir.empty()) {
    return nubo::cli::usageError("nubo-clean", "the --out-dir name is empty");
  }
  if (const int exitStatus =
          planJobs(options, app.count("--format") > 0, outDirGiven, &jobs, &folder);
      exitStatus >= 0) {
    return exitStatus;
  }
  for (const Job& job : jobs) {
    if (job.output == "-" && ::isatty(STDOUT_FILENO)) {
      return nubo::cli::usageError("nubo-clean",
                                   "standard output is a terminal; redirect it to a file");
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
    if (!found.dir.empty() && (options.verbose || !found.usual)) {
      std::fprintf(stderr, "nubo-clean: using the data folder %s\n", found.dir.c_str());
    }
  }

  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !isFolder(folder)) {
      std::fprintf(stderr, "nubo-clean: %s: cannot create the folder: %s\n", folder.c_str(),
                   ec ? ec.message().c_str() : "a file of that name exists");
      return nubo::cli::kExitFailure;
    }
  }

  Cleaner cleaner(options);
  const int failures = cleaner.runAll(jobs);
  return failures == 0 ? nubo::cli::kExitOk : nubo::cli::kExitFailure;
}
