#pragma once

#include <fstream>
#include <vector>

#include "shell/ZelString.h"

class Warpixator;

/// The one GLUT window: a grid of cells, one deformator each. Every input
/// reaches all deformators at the same relative position in their cells.
/// Deformators are kept (never deleted) for the whole run.
class WarpixWindow {
 public:
  // === Construction and set-up (no window-system call until EnterGlutLoop)
  WarpixWindow(int width, int height, int cols, int rows);
  /// Appends a deformator; it takes the next cell (left to right, bottom row first).
  void AddDeformator(Warpixator* deformator);
  /// Initialises GLUT, creates the window, optionally starts the animation
  /// and runs the main loop. Never returns.
  void EnterGlutLoop(int argc, char const** argv, char const* animationFile,
                     char const* animationOutput);
  void InitializeGL();
  int Width() const { return m_iWidth; }
  int Height() const { return m_iHeight; }
  void Update();

  // === Drawing services for the deformators
  /// Projection in which deformator index's unit square fills the inner part
  /// of its cell (with zoom and pan); draws the cell background unless hidden.
  void SetCoordSystemToDeformator(int index);
  void UnsetCoordSystem();
  /// Bitmap text at (x, y) of the current coordinates; font 0, 1 or 2.
  void RenderText(char const* text, double x, double y, double r, double g, double b,
                  int font);

  // === Input (window coordinates: x to the right, y upwards, both in [0, 1])
  /// Cell coordinates of a window position and the index of its cell.
  int ConvertToWarpixatorCoords(double x, double y, double& outX, double& outY);
  void SelectControlPoint(double x, double y);
  void MoveSelectedControlPoint(double x, double y);
  void AddControlPoint(double x, double y);
  void Resize(int width, int height);
  /// Captures the frame buffer into a JPEG file.
  void PrintScreen(char const* fileName);
  /// Destroys the window and ends the process with status 0.
  void Terminate();

  // === Animation
  void Animation(char const* scriptFile, char const* outputPrefix, char const* name);
  /// One animation step; true asks for another redisplay.
  bool AnimationUpdate();

  // === GLUT callbacks (the free functions forward to s_MainGLUTWindow)
  void GLUTRedrawCallback();
  void GLUTResizeCallback(int width, int height);
  void GLUTKeyboardCallback(unsigned char key, int x, int y);
  void GLUTSpecialCallback(int key, int x, int y);
  void GLUTMouseCallback(int button, int state, int x, int y);
  void GLUTMotionCallback(int x, int y);
  void Draw();

  // === Display flags read by the deformators' drawing
  bool m_bShowLines = true;            // line constraints drawn (toggled by 'l')
  bool m_bHideControlPoints = false;   // markers and cell backgrounds hidden ('h')

  static WarpixWindow* s_MainGLUTWindow;

 private:
  int m_iWidth;
  int m_iHeight;
  int m_iCols;
  int m_iRows;
  double m_fCellFill = 0.8;
  std::vector<Warpixator*> m_Deformators;
  int m_iGlutWindowID = 0;
  int m_iLastMouseX = 0;
  int m_iLastMouseY = 0;
  int m_iModifiers = 0;
  std::ifstream* m_pAnimationStream = nullptr;
  ZelString m_AnimationFramePrefix;
  int m_iAnimationFrame = -1;
  int m_iAnimationValuesPerLine = 0;
  double m_fZoom = 1.0;
  double m_fTranslateX = 0.0;
  double m_fTranslateY = 0.0;
};

void GLUTRedraw();
void GLUTResize(int width, int height);
void GLUTKeyboard(unsigned char key, int x, int y);
void GLUTSpecial(int key, int x, int y);
void GLUTMouse(int button, int state, int x, int y);
void GLUTMotion(int x, int y);
