// GLUT handlers of the main window: display, reshape, keys, mouse and drags,
// and the logo loaded once at start-up.
#ifndef NUBO_APP_HANDLERS_H_
#define NUBO_APP_HANDLERS_H_

namespace nubo {

void onDisplay();
void onReshape(int width, int height);
void onKeyboard(unsigned char key, int x, int y);
void onSpecialKey(int key, int x, int y);
void onMouse(int button, int state, int x, int y);
void onMotion(int x, int y);

// Reads logo.bmp of the data folder into logoTexture; without a readable logo
// the corner stays white.
void loadLogo();

}  // namespace nubo

#endif  // NUBO_APP_HANDLERS_H_
