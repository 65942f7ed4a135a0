// Helpers the toolkit's own files share; not for programs that use it.
#ifndef TOOLKIT_INTERNAL_H_
#define TOOLKIT_INTERNAL_H_

class GLUI_Control;

// The left edge and width of the column a control sits in: the nearest
// preceding column of its siblings, else the parent up to the next column,
// else the whole parent.
void glui_column_dims(const GLUI_Control* control, int* left, int* width);

#endif  // TOOLKIT_INTERNAL_H_
