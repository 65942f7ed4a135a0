// nubo-eval: measures what the cleaner gains over plain JPEG decoding. Lossless
// originals are compressed with libjpeg at the given qualities, cleaned by
// running the nubo-clean program as a user would, and compared with the
// original by PSNR on BT.601 luminance; prints Markdown tables.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/status.h"
#include "engine/thread_pool.h"
#include "imageio/image_io.h"
#include "jpegutil/jpeg_util.h"
#include "platform/process.h"
#include "tools/cli_util.h"

namespace nubo {
namespace {

namespace fs = std::filesystem;

// The 8-bit peak value of the PSNR.
constexpr double kPeak = 255.0;

enum class Protocol {
  kColour,  // RGB compressed as 4:2:0 YCbCr, as users' photos are
  kGrey,    // the 8-bit luminance alone as a one-component JPEG, as papers measure
};

// An original picture, kept as luminance only.
struct Original {
  std::string name;  // file name, for reports
  std::string path;
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;   // bottom row first, as decodeImageFile gives it
  std::vector<double> luma;   // BT.601 Y of rgb, bottom row first
  std::vector<uint8_t> grey;  // round(luma), top row first (the grey protocol's original)
};

// How the cleaner runs: its defaults, or with --convert-all.
enum class Mode {
  kDefault,
  kConvertAll,
};

// One picture at one quality under one protocol and cleaner mode.
struct Task {
  size_t original = 0;
  int quality = 0;
  Protocol protocol = Protocol::kColour;
  Mode mode = Mode::kDefault;
  // Results.
  bool ok = false;
  std::string error;
  double jpegPsnr = 0;
  double cleanedPsnr = 0;
  double bitsPerPixel = 0;
  double cleanSeconds = 0;
};

// BT.601 luminance of one 8-bit RGB pixel.
double luminance(const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }

std::vector<double> luminanceOf(const DecodedImage& image) {
  std::vector<double> y(static_cast<size_t>(image.width) * image.height);
  for (size_t i = 0; i < y.size(); ++i) y[i] = luminance(&image.rgb[3 * i]);
  return y;
}

// PSNR (dB, peak 255) between two luminance planes of equal size; +inf when equal.
double psnr(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    const double d = a[i] - b[i];
    sum += d * d;
  }
  const double mse = sum / static_cast<double>(a.size());
  if (mse == 0) return std::numeric_limits<double>::infinity();
  return 10.0 * std::log10(kPeak * kPeak / mse);
}

// DevIL behind decodeImageFile keeps global state: one decode at a time.
std::mutex& decodeMutex() {
  static std::mutex mutex;
  return mutex;
}

Status decodeLocked(const std::string& path, DecodedImage* out) {
  std::lock_guard<std::mutex> lock(decodeMutex());
  return decodeImageFile(path, out);
}

Status writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file) return Status(StatusCode::kCannotOpen, "cannot create " + path);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) return Status(StatusCode::kIoError, "cannot write " + path);
  return Status::Ok();
}

// Runs the program args[0] with args, output and errors into logPath; returns
// its exit status, or the reason it could not run or did not end normally.
Status runCleaner(const std::vector<std::string>& args, const std::string& logPath) {
  platform::RunOptions options;
  options.outputFile = logPath;
  const platform::ProcessResult result = platform::runProgram(args[0], args, options);
  if (!result.started) {
    const std::string why =
        result.startErrno != 0 ? std::strerror(result.startErrno) : result.startError;
    return Status(StatusCode::kCannotOpen, "cannot run " + args[0] + ": " + why);
  }
  if (!result.exited && result.signal == 0) {
    return Status(StatusCode::kIoError, "lost the cleaner process");
  }
  if (result.exited && result.exitStatus == 0) return Status::Ok();
  std::string how = result.exited ? "exit status " + std::to_string(result.exitStatus)
                                  : "signal " + std::to_string(result.signal);
  // The last line the cleaner wrote usually says why.
  std::ifstream log(logPath);
  std::string line;
  std::string last;
  while (std::getline(log, line)) {
    if (!line.empty()) last = line;
  }
  return Status(StatusCode::kInvalidData,
                "cleaner ended with " + how + (last.empty() ? "" : ": " + last));
}

// Settings shared by all tasks.
struct Settings {
  std::string cleaner;
  std::string codebook;                  // empty: the cleaner's own choice
  std::vector<std::string> cleanerArgs;  // passed before the file names
  std::string workDir;
  bool keepFiles = false;
};

void runTask(const Settings& settings, const Original& original, Task* task) {
  const bool grey = task->protocol == Protocol::kGrey;
  const bool all = task->mode == Mode::kConvertAll;
  const std::string stem = settings.workDir + "/" + fs::path(original.name).stem().string() +
                           (grey ? "-grey" : "") + "-q" + std::to_string(task->quality);
  // Both modes compress the same way; each run keeps its own files.
  const std::string jpegPath = stem + (all ? "-all" : "") + ".jpg";
  const std::string cleanedPath = stem + (all ? "-all" : "") + ".png";
  const std::string logPath = stem + (all ? "-all" : "") + ".log";

  std::vector<uint8_t> jpeg;
  Status status = grey ? compressJpegGrey(original.grey.data(), original.width, original.height,
                                          task->quality, &jpeg)
                       : compressJpeg(original.rgb.data(), original.width, original.height,
                                      task->quality, false, &jpeg);
  if (status.ok()) status = writeBytes(jpegPath, jpeg);
  if (!status.ok()) {
    task->error = status.message();
    return;
  }
  task->bitsPerPixel = 8.0 * static_cast<double>(jpeg.size()) /
                       (static_cast<double>(original.width) * original.height);

  std::vector<std::string> args = {settings.cleaner};
  if (!settings.codebook.empty()) {
    args.push_back("--codebook");
    args.push_back(settings.codebook);
  }
  if (all) args.push_back("--convert-all");
  args.insert(args.end(), settings.cleanerArgs.begin(), settings.cleanerArgs.end());
  args.push_back(jpegPath);
  args.push_back(cleanedPath);
  const auto start = std::chrono::steady_clock::now();
  status = runCleaner(args, logPath);
  task->cleanSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!status.ok()) {
    task->error = status.message();
    return;
  }

  // The reference: the original's luminance (the 8-bit grey picture for the
  // grey protocol), both decoded the way the cleaner reads its input.
  std::vector<double> reference = original.luma;
  if (grey) {
    for (int y = 0; y < original.height; ++y) {
      for (int x = 0; x < original.width; ++x) {
        // grey is top row first, the planes here bottom row first.
        reference[static_cast<size_t>(original.height - 1 - y) * original.width + x] =
            original.grey[static_cast<size_t>(y) * original.width + x];
      }
    }
  }
  DecodedImage decoded;
  DecodedImage cleaned;
  status = decodeLocked(jpegPath, &decoded);
  if (!status.ok()) {
    task->error = "decoding " + jpegPath + ": " + status.message();
    return;
  }
  status = decodeLocked(cleanedPath, &cleaned);
  if (!status.ok()) {
    task->error = "reading the cleaned picture " + cleanedPath + ": " + status.message();
    return;
  }
  if (decoded.width != original.width || decoded.height != original.height ||
      cleaned.width != original.width || cleaned.height != original.height) {
    task->error = "picture size changed";
    return;
  }
  task->jpegPsnr = psnr(reference, luminanceOf(decoded));
  task->cleanedPsnr = psnr(reference, luminanceOf(cleaned));
  task->ok = true;
  if (!settings.keepFiles) {
    std::error_code ignored;
    fs::remove(jpegPath, ignored);
    fs::remove(cleanedPath, ignored);
    fs::remove(logPath, ignored);
  }
}

Status loadOriginal(const std::string& path, Original* out) {
  DecodedImage image;
  Status status = decodeLocked(path, &image);
  if (!status.ok()) return Status(status.code(), path + ": " + status.message());
  out->path = path;
  out->name = fs::path(path).filename().string();
  out->width = image.width;
  out->height = image.height;
  out->luma = luminanceOf(image);
  out->grey.resize(out->luma.size());
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const double v = out->luma[static_cast<size_t>(image.height - 1 - y) * image.width + x];
      out->grey[static_cast<size_t>(y) * image.width + x] =
          static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  out->rgb = std::move(image.rgb);
  return Status::Ok();
}

// The pictures named on the command line: files as given, folders' PNG files
// in name order.
Status collectOriginals(const std::vector<std::string>& inputs, std::vector<std::string>* paths) {
  for (const std::string& input : inputs) {
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
      std::vector<std::string> found;
      for (const fs::directory_entry& entry : fs::directory_iterator(input, ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (entry.is_regular_file() && ext == ".png") found.push_back(entry.path().string());
      }
      if (ec) return Status(StatusCode::kCannotOpen, "cannot list " + input);
      std::sort(found.begin(), found.end());
      if (found.empty()) return Status(StatusCode::kInvalidArgument, "no PNG files in " + input);
      paths->insert(paths->end(), found.begin(), found.end());
    } else if (fs::is_regular_file(input, ec)) {
      paths->push_back(input);
    } else {
      return Status(StatusCode::kCannotOpen, "no such file or folder: " + input);
    }
  }
  return Status::Ok();
}

std::string formatDb(double value) {
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%.2f", value);
  return buffer;
}

std::string formatSignedDb(double value) {
  if (std::isinf(value)) return value > 0 ? "+inf" : "-inf";
  char buffer[32];
  std::snprintf(buffer, sizeof(buffer), "%+.2f", value);
  return buffer;
}

void printTable(const std::vector<Task>& tasks, const std::vector<Original>& originals,
                const std::vector<int>& qualities, Protocol protocol, Mode mode, bool perPicture) {
  std::printf(
      "| quality | pictures | bits/pixel | JPEG PSNR (dB) | cleaned PSNR (dB) | gain (dB) |"
      " worst gain (dB) | made worse | cleaner s/picture |\n");
  std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
  for (int quality : qualities) {
    int count = 0;
    int failed = 0;
    int worse = 0;
    double bpp = 0;
    double jpegSum = 0;
    double cleanedSum = 0;
    double seconds = 0;
    double worst = std::numeric_limits<double>::infinity();
    std::string worstName;
    for (const Task& task : tasks) {
      if (task.quality != quality || task.protocol != protocol || task.mode != mode) continue;
      if (!task.ok) {
        ++failed;
        continue;
      }
      ++count;
      bpp += task.bitsPerPixel;
      jpegSum += task.jpegPsnr;
      cleanedSum += task.cleanedPsnr;
      seconds += task.cleanSeconds;
      const double gain = task.cleanedPsnr - task.jpegPsnr;
      if (gain < 0) ++worse;
      if (gain < worst) {
        worst = gain;
        worstName = originals[task.original].name;
      }
    }
    if (count == 0) {
      std::printf("| %d | 0 (%d failed) | | | | | | | |\n", quality, failed);
      continue;
    }
    const double n = count;
    std::string pictures = std::to_string(count);
    if (failed > 0) pictures += " (" + std::to_string(failed) + " failed)";
    std::printf("| %d | %s | %.3f | %s | %s | %s | %s (%s) | %d (%.0f%%) | %.2f |\n", quality,
                pictures.c_str(), bpp / n, formatDb(jpegSum / n).c_str(),
                formatDb(cleanedSum / n).c_str(),
                formatSignedDb((cleanedSum - jpegSum) / n).c_str(), formatSignedDb(worst).c_str(),
                worstName.c_str(), worse, 100.0 * worse / n, seconds / n);
  }
  if (!perPicture) return;
  std::printf("\n| picture | quality | JPEG PSNR (dB) | cleaned PSNR (dB) | gain (dB) |\n");
  std::printf("|---|---:|---:|---:|---:|\n");
  for (const Task& task : tasks) {
    if (task.protocol != protocol || task.mode != mode || !task.ok) continue;
    std::printf("| %s | %d | %s | %s | %s |\n", originals[task.original].name.c_str(), task.quality,
                formatDb(task.jpegPsnr).c_str(), formatDb(task.cleanedPsnr).c_str(),
                formatSignedDb(task.cleanedPsnr - task.jpegPsnr).c_str());
  }
}

// The folder of this executable, where nubo-clean is built too.
std::string ownFolder() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string(".") : self.parent_path().string();
}

int run(int argc, char** argv) {
  CLI::App app{
      "Compresses lossless originals with libjpeg, cleans them with nubo-clean and prints the "
      "luminance PSNR of the decoded and the cleaned pictures as Markdown tables.",
      "nubo-eval"};
  std::vector<std::string> inputs;
  std::vector<int> qualities = {10, 20, 30, 40};
  std::string protocolName = "both";
  Settings settings;
  settings.cleaner = ownFolder() + "/nubo-clean";
  std::string workDir;
  unsigned jobs = std::max(1u, std::thread::hardware_concurrency());
  bool perPicture = false;
  app.add_option("originals", inputs, "PNG files or folders of PNG files (lossless originals)")
      ->required();
  app.add_option("-q,--quality", qualities, "JPEG qualities to test (1..100)")
      ->check(CLI::Range(1, 100))
      ->delimiter(',')
      ->capture_default_str();
  app.add_option("--protocol", protocolName,
                 "colour: RGB as 4:2:0 JPEG; grey: the 8-bit luminance as a one-component JPEG; "
                 "both")
      ->check(CLI::IsMember({"colour", "grey", "both"}))
      ->capture_default_str();
  std::string modeName = "both";
  app.add_option("--mode", modeName,
                 "default: the cleaner's defaults; convert-all: with --convert-all; both")
      ->check(CLI::IsMember({"default", "convert-all", "both"}))
      ->capture_default_str();
  app.add_option("--cleaner", settings.cleaner, "nubo-clean program to run")->capture_default_str();
  app.add_option("--codebook", settings.codebook, "codebook passed to the cleaner (--codebook)");
  std::string cleanerArgs;
  app.add_option("--cleaner-args", cleanerArgs,
                 "extra arguments for the cleaner, separated by blanks "
                 "(e.g. --cleaner-args=\"--threads 1\")");
  app.add_option("-j,--jobs", jobs, "pictures cleaned at the same time")
      ->check(CLI::Range(1u, 64u))
      ->capture_default_str();
  app.add_option("--work-dir", workDir,
                 "folder for the JPEG and cleaned files (default: a new temporary folder)");
  app.add_flag("--keep", settings.keepFiles, "keep the JPEG, cleaned and log files");
  app.add_flag("--per-picture", perPicture, "also print one row per picture");
  nubo::cli::setUp(&app);
  if (const int exitStatus = nubo::cli::parse(&app, argc, argv); exitStatus >= 0) {
    return exitStatus;
  }

  std::istringstream words(cleanerArgs);
  for (std::string word; words >> word;) settings.cleanerArgs.push_back(word);
  std::sort(qualities.begin(), qualities.end());
  qualities.erase(std::unique(qualities.begin(), qualities.end()), qualities.end());
  if (access(settings.cleaner.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "nubo-eval: cleaner %s is not an executable program (see --cleaner)\n",
                 settings.cleaner.c_str());
    return 2;
  }

  std::vector<std::string> paths;
  Status status = collectOriginals(inputs, &paths);
  if (!status.ok()) {
    std::fprintf(stderr, "nubo-eval: %s\n", status.message().c_str());
    return 2;
  }
  std::vector<Original> originals(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) {
    status = loadOriginal(paths[i], &originals[i]);
    if (!status.ok()) {
      std::fprintf(stderr, "nubo-eval: %s\n", status.message().c_str());
      return 2;
    }
  }

  bool ownWorkDir = false;
  if (workDir.empty()) {
    std::string pattern = (fs::temp_directory_path() / "nubo-eval-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::fprintf(stderr, "nubo-eval: cannot create a temporary folder\n");
      return 2;
    }
    workDir = pattern;
    ownWorkDir = true;
  } else {
    std::error_code ec;
    fs::create_directories(workDir, ec);
    if (ec) {
      std::fprintf(stderr, "nubo-eval: cannot create %s\n", workDir.c_str());
      return 2;
    }
  }
  settings.workDir = workDir;

  std::vector<Protocol> protocols;
  if (protocolName != "grey") protocols.push_back(Protocol::kColour);
  if (protocolName != "colour") protocols.push_back(Protocol::kGrey);
  std::vector<Mode> modes;
  if (modeName != "convert-all") modes.push_back(Mode::kDefault);
  if (modeName != "default") modes.push_back(Mode::kConvertAll);
  std::vector<Task> tasks;
  for (Protocol protocol : protocols) {
    for (int quality : qualities) {
      for (size_t i = 0; i < originals.size(); ++i) {
        for (Mode mode : modes) {
          Task task;
          task.original = i;
          task.quality = quality;
          task.protocol = protocol;
          task.mode = mode;
          tasks.push_back(task);
        }
      }
    }
  }

  std::atomic<size_t> done{0};
  std::mutex reportMutex;
  const bool showProgress = isatty(2) != 0;
  const auto start = std::chrono::steady_clock::now();
  {
    // Each job runs one cleaner at a time: a worker of its own.
    ThreadPool pool(static_cast<int>(std::max<size_t>(1, std::min<size_t>(jobs, tasks.size()))));
    pool.parallelFor(tasks.size(), [&](size_t i) {
      runTask(settings, originals[tasks[i].original], &tasks[i]);
      const size_t finished = ++done;
      std::lock_guard<std::mutex> lock(reportMutex);
      if (!tasks[i].ok) {
        std::fprintf(stderr, "%snubo-eval: %s at quality %d (%s%s): %s\n", showProgress ? "\r" : "",
                     originals[tasks[i].original].name.c_str(), tasks[i].quality,
                     tasks[i].protocol == Protocol::kGrey ? "grey" : "colour",
                     tasks[i].mode == Mode::kConvertAll ? ", --convert-all" : "",
                     tasks[i].error.c_str());
      }
      if (showProgress) std::fprintf(stderr, "\r%zu/%zu pictures cleaned", finished, tasks.size());
    });
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (showProgress) std::fprintf(stderr, "\n");

  std::string codebook = settings.codebook.empty() ? "cleaner's default" : settings.codebook;
  std::printf(
      "Luminance PSNR (BT.601 Y, peak 255) of %zu pictures from %s; JPEG by libjpeg; "
      "codebook: %s; %.0f s.\n",
      originals.size(), inputs.size() == 1 ? inputs[0].c_str() : "several inputs", codebook.c_str(),
      seconds);
  for (Protocol protocol : protocols) {
    for (Mode mode : modes) {
      const char* how = mode == Mode::kDefault ? "cleaner defaults" : "cleaner --convert-all";
      if (protocol == Protocol::kColour) {
        std::printf(
            "\nColour: RGB compressed as YCbCr 4:2:0, PSNR on Y of the RGB results; %s.\n\n", how);
      } else {
        std::printf(
            "\nGrey: the original's 8-bit luminance compressed as a one-component JPEG; %s.\n\n",
            how);
      }
      printTable(tasks, originals, qualities, protocol, mode, perPicture);
    }
  }

  size_t failures = 0;
  for (const Task& task : tasks) failures += task.ok ? 0 : 1;
  if (ownWorkDir && !settings.keepFiles && failures == 0) {
    std::error_code ignored;
    fs::remove_all(workDir, ignored);
  } else if (settings.keepFiles || failures > 0) {
    std::fprintf(stderr, "nubo-eval: files kept in %s\n", workDir.c_str());
  }
  if (failures > 0) {
    std::fprintf(stderr, "nubo-eval: %zu of %zu runs failed\n", failures, tasks.size());
    return 1;
  }
  return 0;
}

}  // namespace
}  // namespace nubo

int main(int argc, char** argv) { return nubo::run(argc, argv); }
