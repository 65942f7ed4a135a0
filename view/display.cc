// Frame drawing in immediate mode, with the fixed-function pipeline.
#include "view/display.h"

#include <GL/gl.h>
#include <GL/glu.h>

namespace nubo {

namespace {

constexpr double kNear = 1.0;
constexpr double kFar = 5000.0;
constexpr float kCameraDistance = 4.0f;

void emit(const TexVertex& v) {
  glTexCoord2f(v.s, v.t);
  glVertex3f(v.x, v.y, 0.0f);
}

}  // namespace

void initGlState(float fieldOfView, float aspectRatio) {
  glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
  glLightModeli(GL_LIGHT_MODEL_COLOR_CONTROL, GL_SEPARATE_SPECULAR_COLOR);
  glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 1);
  glEnable(GL_DEPTH_TEST);
  glClearDepth(1.0);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glHint(GL_POINT_SMOOTH_HINT, GL_NICEST);
  glEnable(GL_POINT_SMOOTH);
  glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
  glEnable(GL_LINE_SMOOTH);
  glCullFace(GL_BACK);
  setView(fieldOfView, aspectRatio);

  // A light is set up but lighting stays off: it has no effect on the drawing.
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  const GLfloat ambient[4] = {0.3f, 0.3f, 0.3f, 1.0f};
  const GLfloat diffuse[4] = {0.7f, 0.7f, 0.7f, 1.0f};
  const GLfloat specular[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  const GLfloat position[4] = {0.0f, 0.0f, 1.0f, 0.0f};
  glLightfv(GL_LIGHT0, GL_AMBIENT, ambient);
  glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
  glLightfv(GL_LIGHT0, GL_SPECULAR, specular);
  glLightfv(GL_LIGHT0, GL_POSITION, position);
  glEnable(GL_LIGHT0);
  glPopMatrix();
}

void setProjection(float fieldOfView, float aspectRatio) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(fieldOfView, aspectRatio, kNear, kFar);
  glMatrixMode(GL_MODELVIEW);
}

void setView(float fieldOfView, float aspectRatio) {
  setProjection(fieldOfView, aspectRatio);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -kCameraDistance);
}

void drawView(const FrameContent& frame) {
  // Flat, opaque drawing: the smoothing, blending and depth set at start-up are off.
  glDisable(GL_LINE_SMOOTH);
  glDisable(GL_POINT_SMOOTH);
  glDisable(GL_POLYGON_SMOOTH);
  glDisable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glColor3f(1.0f, 1.0f, 1.0f);

  glEnable(GL_TEXTURE_2D);
  if (frame.logoTexture != 0) {
    TexVertex logo[4];
    logoQuad(frame.logoExtentS, frame.logoExtentT, logo);
    glBindTexture(GL_TEXTURE_2D, frame.logoTexture);
    glBegin(GL_QUADS);
    for (const TexVertex& v : logo) emit(v);
    glEnd();
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  if (!frame.pictureLoaded) return;

  const DisplayGeometry& g = frame.geometry;
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, frame.inputTexture);
  glBegin(GL_QUADS);
  for (const TexVertex& v : g.inputPanel) emit(v);
  for (const TexVertex& v : g.overview) emit(v);
  glEnd();

  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, frame.outputTexture);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_DECAL);
  glBegin(GL_QUADS);
  for (const TexVertex& v : g.outputPanel) emit(v);
  glEnd();
  glBindTexture(GL_TEXTURE_2D, 0);
  glDisable(GL_TEXTURE_2D);

  glLineWidth(1.0f);
  glColor3f(1.0f, 0.0f, 0.0f);
  glBegin(GL_LINE_LOOP);
  for (const auto& corner : g.rectangle) glVertex3f(corner[0], corner[1], kRectangleDepth);
  glEnd();
}

}  // namespace nubo
