// The desktop program's state: one instance for the whole run, as plain
// globals. Only the application shell (app/) reads and writes them; the view
// and the engine get what they need as arguments.
#ifndef NUBO_APP_STATE_H_
#define NUBO_APP_STATE_H_

#include <map>
#include <string>

#include "app/working_image.h"
#include "codebooks/codebook_choice.h"
#include "engine/codebook.h"
#include "view/comparison.h"
#include "view/navigation.h"

class GLUI;
class GLUI_Slider;
class GLUI_StaticText;

namespace nubo {

// Fixed sizes of the text buffers.
constexpr int kPathBytes = 256;
constexpr int kTextBytes = 512;

// Graphics area in pixels: 800 x 600 at start, then what onReshape reports.
extern int windowWidth;
extern int windowHeight;
extern char windowCaption[kTextBytes];  // "Nubo 1.3": window title, message-box caption
extern char aboutText[kTextBytes];      // body of the About box
extern float fieldOfView;               // vertical, degrees
extern float aspectRatio;               // of the graphics area
extern float& zoom;                     // live variable of the Zoom slider
extern float& panX;
extern float& panY;
extern int smoothNonEdge;               // live variable of the smoothing checkbox
extern double dragGain;                 // drag pixels to pan units
extern char statusText[kTextBytes];     // what the status line shows
extern char homeDirectory[kPathBytes];  // current folder at start-up
extern int mainWindow;                  // GLUT id of the main window
extern Codebook codebook;               // loaded at start-up from data/data
extern std::string codebookPath;        // where codebook came from ("" when none loaded)
// Folder of the codebooks and the logo: data/ below homeDirectory, or where
// the search for an installed or source-tree data folder found them.
extern std::string dataFolder;

// Navigation: zoom, pan, drag state and mouse buttons.
extern NavigationState view;

// Control panel and status bar.
extern GLUI* controlPanel;
extern GLUI* statusBar;
extern GLUI_Slider* zoomSlider;
extern GLUI_StaticText* statusControl;  // null until the status bar exists
extern char chosenPath[kPathBytes];     // filled by either file dialog
extern char inputPath[kPathBytes];      // last chosen input picture
extern char outputPath[kPathBytes];     // last chosen output file

// The loaded picture: geometry, display buffers, YIQ images, edge-block map.
extern WorkingImage image;
extern unsigned inputTexture;
extern unsigned outputTexture;
extern int textureReductionFactor;  // > 1 when the textures hold a reduced copy

// Comparing in place: what the right panel shows; the difference view's
// texture (0 until "v" first shows it after a clean); whether the cleaned
// result has been saved since the last clean.
extern ComparisonState comparison;
extern unsigned differenceTexture;
extern bool resultUnsaved;

// Logo.
extern unsigned logoTexture;
extern float logoExtentS;
extern float logoExtentT;

// Codebooks chosen by JPEG quality, loaded on first use and kept (keyed by
// path); a failed load is tried again on the next clean.
extern CodebookCache bandCodebooks;

}  // namespace nubo

#endif  // NUBO_APP_STATE_H_
