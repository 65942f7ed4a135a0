// The work behind the load, clean and save buttons, on the program's state.
#ifndef NUBO_APP_COMMANDS_H_
#define NUBO_APP_COMMANDS_H_

namespace nubo {

// Loads the picture named by inputPath into the working buffers and textures.
// The file is decoded and checked first: one that cannot be loaded opens the
// error box "The file cannot be opened!" with its name and the reason, puts the
// shown picture's path back into inputPath and keeps that picture, its result
// and the view as they were. Returns true when the new picture was loaded.
// Needs the main window current.
bool loadInput();

// Cleans the loaded picture with the codebook chosen for it and shows the
// result; does nothing without a picture, and says so in the status line when
// no codebook is loaded. Needs the main window current.
void removeRinging();

// True when there is a cleaned result to save; otherwise says in the status
// line what to do first and returns false.
bool readyToSave();

// Saves the cleaned picture to outputPath: as PNG when the name ends in ".png"
// (any case), else as BMP with ".bmp" appended when the name holds no ".bmp" or
// ".BMP" (the extended name stays in outputPath). An existing file of an
// extended name is replaced only when the user says yes. The status line names
// the file written; a failure opens the error box "The file cannot be saved!"
// with the name and the reason. Does nothing without a picture.
void saveOutput();

// The texture the right panel shows: the cleaned picture, the input, or the
// difference view.
unsigned rightPanelTexture();

// Makes the difference view's texture for the current result when there is
// none yet; false (with the status line saying why) when it cannot be made.
bool prepareDifferenceTexture();

// Finds the data folder (data/ below the start-up folder first, then
// $NUBO_DATA_DIR, the installation's share folder and the source tree) and
// loads its quality-independent codebook.
void initCodebook();

}  // namespace nubo

#endif  // NUBO_APP_COMMANDS_H_
