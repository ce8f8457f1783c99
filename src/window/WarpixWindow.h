#pragma once

#include <memory>
#include <vector>

#include "deform/WarpixatorCanvas.h"
#include "render/AnimationPlayer.h"
#include "render/DistortionMetrics.h"
#include "support/ZelString.h"

class Warpixator;

/// The one GLUT window: a grid of cells, one deformator each. Every input
/// reaches all deformators at the same relative position in their cells.
/// Deformators are kept (never deleted) for the whole run. The window is the
/// canvas they draw their cells on.
///
/// The definition is split by subject: WarpixWindow.cpp (the cells and the
/// commands over every deformator: distortion, export, animation),
/// WarpixWindowCanvas.cpp (OpenGL drawing and capture), WarpixWindowKeys.cpp
/// (the key table: dispatch and help), WarpixWindowMouse.cpp (pointer and
/// cell coordinates) and WarpixWindowGlut.cpp (GLUT set-up and callbacks).
class WarpixWindow : public WarpixatorCanvas {
 public:
  // === Construction and set-up (no window-system call until EnterGlutLoop)
  WarpixWindow(int width, int height, int cols, int rows);
  virtual ~WarpixWindow();
  WarpixWindow(const WarpixWindow&) = delete;
  WarpixWindow& operator=(const WarpixWindow&) = delete;

  /// Appends a deformator; it takes the next cell (left to right, bottom row first).
  void AddDeformator(Warpixator* deformator);
  /// Initialises GLUT, creates the window, optionally starts the animation
  /// (animationFile null: interactive only) and runs the main loop. Never returns.
  [[noreturn]] void EnterGlutLoop(int argc, char const** argv, char const* animationFile,
                                  char const* animationOutput);
  /// Scales width x height down, both by the same factor (rounded down, at
  /// least 1), until it fits maxWidth x maxHeight (a limit of 0 or less is no
  /// limit). True when it had to.
  static bool ClampWindowSize(int& width, int& height, int maxWidth, int maxHeight);
  /// Clear colour opaque white.
  void InitializeGL();
  int Width() const { return m_iWidth; }
  int Height() const { return m_iHeight; }
  /// Asks GLUT for a redisplay; does nothing before the window exists.
  void Update();
  /// Writes one "[WARNING] ..." line when some deformators sit outside the
  /// grid (they still receive every input); returns how many are not visible.
  int WarnAboutHiddenDeformators() const;

  // === Drawing services for the deformators
  /// Projection in which deformator index's unit square fills the inner part
  /// of its cell (with zoom and pan); draws the cell background unless hidden.
  void SetCoordSystemToDeformator(int index);
  /// Pops the projection and model-view matrices pushed by SetCoordSystemToDeformator.
  void UnsetCoordSystem();
  /// Bitmap text at (x, y) of the current coordinates; font 0 Helvetica 10,
  /// 1 Helvetica 12, 2 Times Roman 24, any other value draws nothing.
  void RenderText(char const* text, double x, double y, double r, double g, double b,
                  int font) override;
  /// GL_MAX_TEXTURE_SIZE of the current context.
  int MaxTextureSize() override;
  /// Both uploads set linear filtering, repeat wrapping and modulation.
  void LoadTexture(unsigned int textureID, const R2Image& image) override;
  void LoadTexture(unsigned int textureID, int width, int height, const float* rgba) override;
  void DrawTexturedTriangles(unsigned int textureID, const std::vector<float>& corners,
                             bool outlines) override;
  void DrawTexturedSquare(unsigned int textureID) override;
  /// A sphere of 8 x 8 facets (one quadric shared by all markers).
  void DrawMarker(double x, double y, double radius, double r, double g, double b) override;
  void DrawSegments(const std::vector<double>& segments, float width) override;

  // === Input (window coordinates: x to the right, y upwards, both in [0, 1])
  /// Cell coordinates of a window position and the index of its cell. The
  /// cell is the one of the unzoomed grid under (x, y); the coordinates go
  /// through that cell's zoom and pan, exactly inverting its drawing, so the
  /// unit square of the cell maps to [0, 1]^2 as it appears on screen.
  int ConvertToWarpixatorCoords(double x, double y, double& outX, double& outY);
  /// x, y >= 0: selects at the cell coordinates in every deformator;
  /// otherwise (-1, -1) deselects.
  void SelectControlPoint(double x, double y);
  void MoveSelectedControlPoint(double x, double y);
  /// Adds a point in the deformator under (x, y), then at the position it
  /// reported in every other one. Ignored outside the grid or over an empty cell.
  void AddControlPoint(double x, double y);
  /// The window keeps its size: any other size only gives a warning.
  void Resize(int width, int height);
  /// Captures the frame buffer into a JPEG file.
  virtual void PrintScreen(char const* fileName);
  /// Key 'e': every cell rendered at its picture's size with a transparent
  /// background into "<prefix><cell as two digits>_<module name>.png" (a missing
  /// folder is made), one "Exported <path> (<w>x<h>)" line per file or
  /// "[ERROR] Cannot write <path>". Returns the number of files written.
  int ExportCells();
  /// Key 'd': switches the heat map of every cell on or off and prints one
  /// "Distortion <name>: ..." line per cell.
  void ToggleDistortion();
  /// Whether the heat map replaces the picture in every cell (default: off).
  bool ShowsDistortion() const { return m_bShowDistortion; }
  /// Text put in front of the exported files' names (default: empty).
  void SetExportPrefix(const ZelString& prefix) { m_ExportPrefix = prefix; }
  /// Destroys the window and ends the process with status 0.
  [[noreturn]] void Terminate();

  // === Animation
  /// Opens the script, loads lines 1 and 2 into every deformator and starts at
  /// frame 0. A missing or malformed script is a fatal start-up error.
  void Animation(char const* scriptFile, char const* outputPrefix, char const* name);
  /// One animation step: writes the current frame, then applies the next line.
  /// True asks for another redisplay; false once the script is exhausted.
  bool AnimationUpdate();
  /// prefix, the frame number padded with zeros to six digits, ".jpg".
  static ZelString AnimationFrameName(const ZelString& prefix, int frame);

  // === GLUT callbacks (the free functions forward to s_MainGLUTWindow)
  void GLUTRedrawCallback();
  void GLUTResizeCallback(int width, int height);
  void GLUTKeyboardCallback(unsigned char key, int x, int y);
  void GLUTSpecialCallback(int key, int x, int y);
  void GLUTMouseCallback(int button, int state, int x, int y);
  void GLUTMotionCallback(int x, int y);
  /// Clears, draws every deformator in its cell, then runs the animation step.
  void Draw();

  // === View state (read-only)
  double Zoom() const { return m_fZoom; }
  double TranslateX() const { return m_fTranslateX; }
  double TranslateY() const { return m_fTranslateY; }
  int AnimationFrame() const { return m_Animation.Frame(); }

  static WarpixWindow* s_MainGLUTWindow;

 protected:
  /// The GLUT modifier bits of the current input event (0 before the window exists).
  virtual int ReadModifiers();

 private:
  friend struct WarpixWindowKeys;  // the commands of the key table (WarpixWindowKeys.cpp)

  /// Prints the key table's help text.
  void PrintHelp() const;
  /// The distortion of cell k, measured now (its metrics made or remade when
  /// its mesh changed); perFace receives the faces when given.
  CellDistortion MeasureCell(int k, std::vector<FaceDistortion>* perFace);
  /// Draws the heat map of the cell being drawn (m_iDrawingCell) and its
  /// legend bar; false when no cell is being drawn.
  bool DrawHeatMap();
  /// Records the mouse position (y upwards) and the modifiers of an input event.
  void RecordInputState(int x, int y);

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
  AnimationPlayer m_Animation;
  ZelString m_AnimationFramePrefix;
  ZelString m_ExportPrefix;
  bool m_bShowDistortion = false;
  int m_iDrawingCell = -1;  // the cell whose Draw runs, -1 between cells
  std::vector<std::unique_ptr<DistortionMetrics>> m_Metrics;  // per cell, made on first use
  std::vector<CellDistortion> m_CellDistortion;                // per cell, as last drawn
  std::vector<FaceDistortion> m_FaceDistortion;                // scratch of the cell being drawn
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
