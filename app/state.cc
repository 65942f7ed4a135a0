// Definitions of the program's state, with their start-up values.
#include "app/state.h"

namespace nubo {

int windowWidth = 800;
int windowHeight = 600;
char windowCaption[kTextBytes];
char aboutText[kTextBytes];
float fieldOfView = 60.0f;
float aspectRatio = 800.0f / 600.0f;
NavigationState view;
float& zoom = view.zoom;
float& panX = view.panX;
float& panY = view.panY;
int smoothNonEdge = 0;
double dragGain = kDragGain;
char statusText[kTextBytes];
char homeDirectory[kPathBytes];
int mainWindow = 0;
Codebook codebook;
std::string codebookPath;
std::string dataFolder = "data";

GLUI* controlPanel = nullptr;
GLUI* statusBar = nullptr;
GLUI_Slider* zoomSlider = nullptr;
GLUI_StaticText* statusControl = nullptr;
char chosenPath[kPathBytes];
char inputPath[kPathBytes];
char outputPath[kPathBytes];

WorkingImage image;
unsigned inputTexture = 0;
unsigned outputTexture = 0;
int textureReductionFactor = 1;

ComparisonState comparison;
unsigned differenceTexture = 0;
bool resultUnsaved = false;

unsigned logoTexture = 0;
float logoExtentS = 1.0f;
float logoExtentT = 1.0f;

CodebookCache bandCodebooks(loadCodebookReportingMissing, CodebookCache::Failures::kRetried);

}  // namespace nubo
