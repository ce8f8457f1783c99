#pragma once

#include <vector>

#include "image/R2Image.h"
#include "image/RNRgb.h"
#include "support/ZelString.h"
#include "support/ZelStringList.h"

class WarpixatorCanvas;

/// Base class of every deformation method, usable by itself as the identity
/// deformator. Owns the control points (original and target positions, flat
/// x0, y0, x1, y1, ... arrays of equal length), the optional regular triangle
/// mesh, the deformation history and the transparency rule, and draws the
/// image, the mesh and the markers. Positions are in deformator coordinates:
/// the image covers [0,1]^2, x along columns, y along rows, row 0 at y = 0.
class Warpixator {
 public:
  /// Deformation modes, stored in m_DeformationType as an int.
  enum DeformationType { DEFORM_PIXEL = 0, DEFORM_REGULAR_MESH = 1 };

  /// A mesh vertex: current position (drawn), texture coordinate, rest
  /// position (the input of the map) and its own index in m_Vertices.
  struct ImgVertex {
    double m_fX = 0.0;
    double m_fY = 0.0;
    double m_fTexU = 0.0;
    double m_fTexV = 0.0;
    double m_fRestX = 0.0;
    double m_fRestY = 0.0;
    int id = 0;
  };

  /// A mesh triangle: three indices into m_Vertices.
  struct ImgFace {
    int m_iV0 = 0;
    int m_iV1 = 0;
    int m_iV2 = 0;
  };

  /// How a method snaps a new control point to a mesh vertex.
  struct SnapOptions {
    bool restPositions = false;  // measure against rest positions, not current ones
    bool onlyOpaque = false;     // the "n" key: only vertices on opaque pixels, else any
    bool warnFallback = false;   // warn when onlyOpaque finds none and any vertex is taken
  };

  // === Constructor
  /// Pixel mode, no mesh, no control points; takes the next texture name.
  /// The image is referred to, never owned or changed.
  Warpixator(R2Image& image, const ZelString& name);
  virtual ~Warpixator();

  Warpixator(const Warpixator&) = delete;
  Warpixator& operator=(const Warpixator&) = delete;

  // === Mode switches (called once, by the factory)
  /// Mesh mode over [x0,x1]x[y0,y1] with cols x rows cells: (cols+1)(rows+1)
  /// vertices, vertex (i, j) at index i*(rows+1)+j, and 2*cols*rows
  /// counter-clockwise triangles. Negative counts build no vertices; counts
  /// below 1 build no triangles. Also stores the drawing and transparency settings.
  void SwitchMeshBasedDeformation(int cols, int rows, bool drawMesh, bool whiteToTransparent,
                                  RNRgb transparentColor, double threshold, double x0,
                                  double x1, double y0, double y1);
  /// Sets DEFORM_PIXEL and nothing else.
  void SwitchPixelBasedDeformation();
  // === Virtual interface (the window, the animation and the factory drive it)
  /// Method parameter step (base: nothing).
  virtual void TweakParameter(double step);
  /// Method sub-mode (base: nothing).
  virtual void ChangeMode(int mode);
  /// Deforms, optionally saves (mesh mode: the deformed mesh becomes the rest
  /// mesh and one history entry is appended and printed), then removes all
  /// control points. A save in pixel mode only prints a warning and changes nothing.
  virtual void ClearControls(bool save);
  /// Appends (x, y) as original and target; reports the placed position in
  /// outX/outY (methods that snap report the snapped one); then prepares.
  virtual void AddControlPoint(double x, double y, double* outX, double* outY);
  /// Work that depends on the original points and the mesh (base: nothing).
  virtual void PrepareDeformator();
  /// Recomputes the map from the targets (base: nothing). Methods that honour
  /// m_bNeedsUpdate return at once when it is false and clear it when they run.
  virtual void Deform();
  /// The map of one point (base: identity). Only for a deformator whose
  /// MapsPoints() is true.
  virtual void MapPoint(double x, double y, double& outX, double& outY);
  /// Whether MapPoint maps any point of the plane (base: true). A method
  /// that fits its mesh vertices only says false, and nothing may then call
  /// its MapPoint: a pixel-mode cell of it has no map to measure.
  virtual bool MapsPoints() const;
  /// Maps every vertex's rest position into its current position.
  virtual void MapMeshVertices();
  /// m_Name as a null-terminated string.
  virtual const char* GetDeformatorName();
  /// Selects the control point whose target is nearest to (x, y) within
  /// m_fControlPointRadius (ties: lower index); both coordinates negative deselect.
  virtual void SelectControlPoint(double x, double y);
  /// Moves the selected target to (x, y) and deforms, only when 0 < x, y < 1.
  /// A move that a coalescing Deform skips is deformed by the next draw.
  virtual void MoveSelectedControlPoint(double x, double y);
  /// Replaces every target coordinate and deforms (a skipped Deform is run by
  /// the next draw); ctrlpnts must have exactly m_ControlPointsNewPos.size()
  /// values (fatal otherwise).
  virtual void MoveAllControlPoints(std::vector<double>& ctrlpnts);
  /// Brings the deformation up to date (PrepareFrame), uploads the texture if
  /// needed, draws the image, the markers and the name.
  virtual void Draw(WarpixatorCanvas* window);
  /// Original positions in green, targets in blue (nothing when hidden).
  virtual void DrawControlPoints(WarpixatorCanvas* window);
  /// Adds one point per (x, y) pair of origVals and moves the first
  /// newVals.size()/2 of them to newVals; both lists hold whole pairs and
  /// newVals is not longer than origVals (fatal otherwise).
  virtual void InitializeCtrlPntState(std::vector<double>& origVals,
                                      std::vector<double>& newVals);
  /// Two lines "\tInitCtrlPnts\t[x0 y0 ... ]" and "\tDeformCtrlPnts\t[...]".
  virtual void PrintCtrlPntState();
  /// Replays the steps stored in m_History (which is emptied first and refilled
  /// by the replayed saves). A malformed history is a fatal start-up error.
  virtual void DeformUsingHistory();
  /// True when transparency is on and the RGB distance to m_TransparentColor
  /// is at most m_fTransparencyThreshold; components in [0,1].
  virtual bool IsTransparent(double r, double g, double b);
  /// The colour test on image pixel (column x, row y); false outside the image.
  virtual bool IsTransparent(int x, int y);
  /// Whether pixel (x, y) is transparent in the texture the window draws: its
  /// own alpha below half, or the colour test on its components as uploaded
  /// (rounded to single precision). False outside the image.
  bool IsTextureTransparent(int x, int y);
  /// One marker per (x, y) pair of points in colour (r, g, b), the selected
  /// one darker (divided by 1.5).
  virtual void DrawControlPoints(WarpixatorCanvas* window, std::vector<double>& points, double r,
                                 double g, double b);
  /// The image as the textured mesh (mesh mode, after MapMeshVertices) or as
  /// the plain unit square; with no canvas only the vertices are mapped.
  virtual void DrawAsTexture(WarpixatorCanvas* window);
  /// Uploads the image into texture m_iTextureID (with alpha when transparency
  /// or the picture's own alpha makes some pixels transparent); with no
  /// canvas nothing is uploaded and the upload stays due.
  virtual void LoadIntoTexture(WarpixatorCanvas* window);

  // === State (public: the window, the factory and the methods use it)
  ZelString m_Name;
  ZelString m_ModuleName;  // the parameter module it was built from; names exported files (default: empty)
  int m_DeformationType;
  bool m_bDrawMesh;
  bool m_bWhiteToTransparent;
  bool m_bSnapToNonWhite;  // toggled by the window's "n" key
  std::vector<ImgFace> m_Faces;
  std::vector<ImgVertex> m_Vertices;
  double m_fControlPointRadius;  // selection radius and marker radius (default: 0.01)
  int m_iSelectedPoint;          // -1 for none
  std::vector<double> m_ControlPointsOrigPos;
  std::vector<double> m_ControlPointsNewPos;
  R2Image& m_Image;
  unsigned int m_iTextureID;
  bool m_bLoadTexture;
  bool m_bNeedsUpdate;
  ZelStringList m_History;
  RNRgb m_TransparentColor;
  double m_fTransparencyThreshold;

  /// Next texture name handed out by a constructor (0 at program start).
  static unsigned int s_GlobalTextureID;

  // === Size limit of the methods' tables
  /// Largest number of bytes a method's preparation may set aside for the
  /// tables it builds from the mesh and the control points (default: 1 GiB).
  /// A preparation that would need more is refused before it allocates them,
  /// with a warning (see FitsTableLimit).
  static long long TableByteLimit();
  /// Lowers or raises the limit (negative: 0), e.g. for a fuzzer that must
  /// bound memory.
  static void SetTableByteLimit(long long bytes);

 protected:
  /// True when tables of about `bytes` bytes fit TableByteLimit(). Otherwise
  /// prints "[WARNING] <name>: <what> would need about <n> MB of tables (more
  /// than <limit> MB); <consequence>" once, until a preparation fits again,
  /// and returns false.
  bool FitsTableLimit(double bytes, const char* what, const char* consequence);
  /// Appends (x, y) as original and target and reports it in outX/outY
  /// (either may be null), without preparing.
  void AppendControlPoint(double x, double y, double* outX, double* outY);
  /// Number of control points (half the length of either array).
  int NumControlPoints() const { return static_cast<int>(m_ControlPointsOrigPos.size() / 2); }
  /// The step of Draw before any drawing: sets m_bNeedsUpdate and, when a
  /// move arrived after the last recomputation of a coalescing Deform, runs
  /// Deform, so the frame shows the latest targets. A method that overrides
  /// Draw calls it first.
  void PrepareFrame();
  /// The mesh vertex nearest to (x, y) by current (or rest) position, the
  /// lowest index on a tie; with onlyOpaque, among the vertices whose pixel
  /// (width u, height v, clamped to the last column and row) is not
  /// transparent, falling back to every vertex (with warnFallback: "[WARNING]
  /// <name>: no opaque mesh vertex; the point goes to the nearest vertex").
  /// -1 outside mesh mode, without vertices, or when x, y is not a number.
  int SnapToVertex(double x, double y, const SnapOptions& options);
  /// SnapToVertex, then the position a control point takes: the vertex's
  /// (measured) position, printed as "actual=[x, y]", or (x, y) itself when
  /// no vertex is found. Returns the vertex or -1.
  int SnapControlPoint(double x, double y, const SnapOptions& options, double& placedX,
                       double& placedY);
  /// Every vertex's rest position through map(count, x, y, outX, outY), which
  /// maps the count points (x[k], y[k]) into (outX[k], outY[k]) a block at a
  /// time, into its current position; scratch holds the four arrays.
  template <class Map>
  void MapRestPositions(std::vector<double>& scratch, Map&& map) {
    const size_t count = m_Vertices.size();
    scratch.resize(4 * count);
    double* const x = scratch.data();
    double* const y = x + count;
    for (size_t k = 0; k < count; ++k) {
      x[k] = m_Vertices[k].m_fRestX;
      y[k] = m_Vertices[k].m_fRestY;
    }
    map(static_cast<int>(count), x, y, x + 2 * count, x + 3 * count);
    for (size_t k = 0; k < count; ++k) {
      m_Vertices[k].m_fX = x[2 * count + k];
      m_Vertices[k].m_fY = x[3 * count + k];
    }
  }
  /// (x, y) moved by the mean displacement of the control points orig ->
  /// target (flat, equally long): the map of the cage methods with too few
  /// points for a cage; the identity without points.
  static void MoveByMeanDisplacement(const std::vector<double>& orig,
                                     const std::vector<double>& target, double x, double y,
                                     double& outX, double& outY);

  /// Set while InitializeCtrlPntState adds a whole point set: it prepares
  /// once at the end, so an AddControlPoint that prepares or deforms for the
  /// next frame (a click) may leave that to it.
  bool PlacingPointSet() const { return m_bPlacingPointSet; }

 private:
  bool m_bPlacingPointSet = false;
  // Targets changed while m_bNeedsUpdate was false, so a coalescing Deform
  // skipped them; the next PrepareFrame deforms.
  bool m_bDeformPending = false;
  // A refused preparation was reported; the next refusal stays silent.
  bool m_bWarnedTableLimit = false;
  // The vertex nearest to (x, y) by current or rest position, among the
  // opaque ones with onlyOpaque; -1 when none qualifies.
  int NearestVertex(double x, double y, bool onlyOpaque, bool restPositions);
  // The textured triangles of the last mesh draw (u, v, x, y per corner),
  // kept so that every frame reuses the allocation.
  std::vector<float> m_DrawCorners;
};
