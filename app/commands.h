// The work behind the load, clean and save buttons, on the program's state.
#ifndef NUBO_APP_COMMANDS_H_
#define NUBO_APP_COMMANDS_H_

namespace nubo {

// Loads the picture named by inputPath into the working buffers and textures,
// releasing the previous one first. A file that cannot be loaded opens the box
// "The file cannot be opened!" with the reason and leaves no picture loaded.
// Needs the main window current.
void loadInput();

// Cleans the loaded picture with the codebook chosen for it and shows the
// result; does nothing without a picture, and says so in the status line when
// no codebook is loaded. Needs the main window current.
void removeRinging();

// Saves the cleaned picture to outputPath (".bmp" appended when it holds no BMP
// extension); a failure opens the box "The file cannot be saved!" with the
// reason. Does nothing without a picture.
void saveOutput();

// Finds the data folder (data/ below the start-up folder first, then
// $NUBO_DATA_DIR, the installation's share folder and the source tree) and
// loads its quality-independent codebook.
void initCodebook();

}  // namespace nubo

#endif  // NUBO_APP_COMMANDS_H_
