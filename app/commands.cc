// Load, clean and save on the program's state, through the same engine and
// image functions as nubo-clean, so that both write the same bytes.
#include "app/commands.h"

#include <GL/gl.h>

#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "app/output_name.h"
#include "app/picture_files.h"
#include "app/state.h"
#include "app/status_line.h"
#include "codebooks/codebook_choice.h"
#include "datadir/data_dir.h"
#include "engine/ringing.h"
#include "engine/thread_pool.h"
#include "imageio/image_io.h"
#include "platform/platform.h"
#include "view/texture.h"

namespace nubo {

namespace {

// Codebook chosen for the loaded picture by its JPEG quality, as nubo-clean
// chooses it by default.
std::string pictureCodebookPath;

// Path of the picture shown ("" when none): what inputPath returns to when a
// newly chosen file cannot be loaded.
std::string loadedPicturePath;

// What the loaded picture's file carried (ICC profile, EXIF, XMP), for the saved
// PNG, as nubo-clean carries it over.
ImageMetadata pictureMetadata;

const std::string& dataDirectory() { return dataFolder; }

void statusFromEngine(const std::string& text) { showStatus("%s", text.c_str()); }

// One worker per core, for the load and the clean, kept for the whole session
// as nubo-clean keeps its pool for a run.
ThreadPool& workers() {
  static ThreadPool pool(0);
  return pool;
}

void deleteDifferenceTexture() {
  if (differenceTexture != 0) glDeleteTextures(1, &differenceTexture);
  differenceTexture = 0;
}

void deleteTextures() {
  deleteDifferenceTexture();
  if (outputTexture != 0) glDeleteTextures(1, &outputTexture);
  if (inputTexture != 0) glDeleteTextures(1, &inputTexture);
  outputTexture = inputTexture = 0;
}

// Texture contents for a display buffer: the buffer itself, or a reduced copy
// when the picture is larger than the GL's textures.
const uint8_t* textureData(const std::vector<uint8_t>& buffer, std::vector<uint8_t>* reduced) {
  if (textureReductionFactor == 1) return buffer.data();
  *reduced =
      reduceRgb(buffer.data(), image.paddedWidth, image.paddedHeight, textureReductionFactor);
  return reduced->data();
}

bool textureFits(int width, int height) {
  if (width > maxTextureSize() || height > maxTextureSize()) return false;
  glTexImage2D(GL_PROXY_TEXTURE_2D, 0, 3, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
  GLint proxyWidth = 0;
  glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &proxyWidth);
  return proxyWidth != 0;
}

void createTextures() {
  textureReductionFactor =
      textureReduction(image.paddedWidth, image.paddedHeight, maxTextureSize());
  while (textureReductionFactor < image.paddedWidth + image.paddedHeight &&
         !textureFits(image.paddedWidth / textureReductionFactor,
                      image.paddedHeight / textureReductionFactor)) {
    textureReductionFactor *= 2;
  }
  const int w = image.paddedWidth / textureReductionFactor;
  const int h = image.paddedHeight / textureReductionFactor;
  std::vector<uint8_t> reduced;
  inputTexture = createPictureTexture(textureData(image.inputDisplay, &reduced), w, h);
  outputTexture = createPictureTexture(textureData(image.outputDisplay, &reduced), w, h);
  if (textureReductionFactor > 1) {
    showStatus("ready (shown at 1/%d size: the picture is larger than the display's textures)",
               textureReductionFactor);
  }
}

void errorBox(const std::string& text) {
  platform::showMessageBoxAsync(text, windowCaption, platform::MessageIcon::kError);
}

bool fileExists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}

// Asks before the save replaces path, a name the ".bmp" rule made and the save
// dialog therefore never checked. True: go ahead.
bool mayReplace(const std::string& path) {
  std::string error;
  switch (platform::askQuestion(path + " already exists.\nReplace it?", windowCaption, &error)) {
    case platform::Answer::kYes:
      return true;
    case platform::Answer::kNo:
      showStatus("Not saved: %s already exists and was kept", path.c_str());
      return false;
    case platform::Answer::kFailed:
      break;
  }
  std::fprintf(stderr, "nubo: %s already exists; no box can ask whether to replace it: %s\n",
               path.c_str(), error.c_str());
  showStatus("Not saved: %s already exists and no box can ask whether to replace it", path.c_str());
  return false;
}

// The codebook for the loaded picture, loaded on first use; null (with the
// status line saying why) when there is none.
const Codebook* pictureCodebook() {
  const std::string defaultPath = dataDirectory() + "/" + kDefaultCodebookName;
  if (pictureCodebookPath.empty() || pictureCodebookPath == defaultPath) {
    if (codebook.empty()) {
      showStatus("No codebook is loaded (%s/data): nothing to clean with", dataDirectory().c_str());
      return nullptr;
    }
    return &codebook;
  }
  Status status;
  const Codebook* loaded = bandCodebooks.get(pictureCodebookPath, &status);
  if (loaded == nullptr) {
    std::fprintf(stderr, "nubo: %s\n", status.message().c_str());
    showStatus("No codebook is loaded: %s", status.message().c_str());
  }
  return loaded;
}

void chooseCodebook() {
  CodebookChoice choice;
  const Status status = selectCodebookForFile(dataDirectory(), inputPath, &choice);
  reportCodebookChoice("nubo", inputPath, status, choice);
  pictureCodebookPath = choice.path;
}

}  // namespace

static void findDataFolder() {
  DataDirSources sources = gatherDataDirSources("");
  const std::string home = homeDirectory;
  sources.startDataDir = home.empty() ? std::string("data") : home + "/data";
  const DataDirResult found = findDataDir(sources, holdsCodebook);
  if (found.dir.empty()) {
    dataFolder = sources.startDataDir;
    std::fprintf(stderr, "nubo: %s (set %s to a data folder)\n",
                 describeFailedSearch(found).c_str(), kDataDirVariable);
    return;
  }
  dataFolder = found.dir;
  // Named only when it is not where one would expect it.
  if (!found.usual) std::fprintf(stderr, "nubo: data folder %s\n", dataFolder.c_str());
}

void initCodebook() {
  findDataFolder();
  const std::string path = dataDirectory() + "/" + kDefaultCodebookName;
  showStatus("Building TSVQ......");
  const Status status = loadCodebookReportingMissing(&codebook, path);
  if (status.ok()) {
    codebookPath = path;
  } else if (status.code() != StatusCode::kCannotOpen) {
    std::fprintf(stderr, "nubo: %s\n", status.message().c_str());
  }
  showStatus("ready");
}

bool loadInput() {
  const std::string path = inputPath;
  DecodedImage decoded;
  Status status = decodeImageFile(path, &decoded);
  std::string warning;
  if (status.ok()) {
    // The file is good: only now does the shown picture give way to it.
    deleteTextures();
    pictureCodebookPath.clear();
    loadedPicturePath.clear();
    resetComparison(&comparison, false);
    resultUnsaved = false;
    pictureMetadata = std::move(decoded.metadata);
    warning = std::move(decoded.warning);
    status = loadDecoded(&decoded, &image, statusFromEngine, &workers());
  }
  if (!status.ok()) {
    std::fprintf(stderr, "nubo: %s: %s\n", path.c_str(), status.message().c_str());
    errorBox("The file cannot be opened!\n" + path + "\n" + status.message());
    std::snprintf(inputPath, kPathBytes, "%s", loadedPicturePath.c_str());
    if (image.imageLoaded) {
      showStatus("Not opened: %s; the picture shown is kept", path.c_str());
    } else {
      showStatus("Not opened: %s", path.c_str());
    }
    return false;
  }
  loadedPicturePath = path;
  chooseCodebook();
  createTextures();
  if (!warning.empty()) {
    // Still cleaned, as nubo-clean does; the status line says the file is damaged.
    std::fprintf(stderr, "nubo: warning: %s: %s\n", path.c_str(), warning.c_str());
    showStatus("warning: %s", warning.c_str());
  }
  return true;
}

void removeRinging() {
  if (!image.imageLoaded) return;
  const Codebook* cleaningCodebook = pictureCodebook();
  if (cleaningCodebook == nullptr) return;
  CleanOptions options;
  options.smoothNonEdge = smoothNonEdge != 0;
  try {
    nubo::removeRinging(&image, *cleaningCodebook, options, &workers(), statusFromEngine);
  } catch (const std::bad_alloc&) {
    showStatus("Not enough memory to clean the picture");
    return;
  }
  std::vector<uint8_t> reduced;
  uploadPictureTexture(outputTexture, textureData(image.outputDisplay, &reduced),
                       image.paddedWidth / textureReductionFactor,
                       image.paddedHeight / textureReductionFactor);
  deleteDifferenceTexture();
  resetComparison(&comparison, true);
  resultUnsaved = true;
}

bool readyToSave() {
  if (!image.imageLoaded) {
    showStatus("Nothing to save yet: press 1. Load input, then 2. Clean");
    return false;
  }
  if (!comparison.cleaned) {
    showStatus("Nothing to save yet: press 2. Clean first");
    return false;
  }
  return true;
}

void saveOutput() {
  if (!image.imageLoaded) return;
  std::string path = outputPath;
  OutputTarget target;
  Status status = outputTarget(path, &target);
  if (status.ok()) {
    path = target.path;
    std::snprintf(outputPath, sizeof outputPath, "%s", path.c_str());
    if (target.extended && fileExists(path) && !mayReplace(path)) return;
    status = savePicture(image, path, target.format, /*overwrite=*/true, pictureMetadata);
  }
  if (!status.ok()) {
    std::fprintf(stderr, "nubo: %s: %s\n", path.c_str(), status.message().c_str());
    errorBox("The file cannot be saved!\n" + path + "\n" + status.message());
    showStatus("Not saved: %s", path.c_str());
    return;
  }
  resultUnsaved = false;
  showStatus("Saved %s (%s)", path.c_str(), target.format == ImageFormat::kPng ? "PNG" : "BMP");
}

bool prepareDifferenceTexture() {
  if (differenceTexture != 0) return true;
  try {
    const std::vector<uint8_t> difference =
        differenceImage(image.inputDisplay.data(), image.outputDisplay.data(), image.paddedWidth,
                        image.paddedHeight, image.imageWidth, image.imageHeight);
    std::vector<uint8_t> reduced;
    differenceTexture = createPictureTexture(textureData(difference, &reduced),
                                             image.paddedWidth / textureReductionFactor,
                                             image.paddedHeight / textureReductionFactor);
  } catch (const std::bad_alloc&) {
    differenceTexture = 0;
  }
  if (differenceTexture == 0) showStatus("Not enough memory for the difference view");
  return differenceTexture != 0;
}

unsigned rightPanelTexture() {
  switch (comparison.shown) {
    case RightPanel::kInput:
      return inputTexture;
    case RightPanel::kDifference:
      if (differenceTexture != 0) return differenceTexture;
      break;
    case RightPanel::kCleaned:
      break;
  }
  return outputTexture;
}

}  // namespace nubo
