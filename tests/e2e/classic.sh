# The classic methods in the real window: affine moving least squares, the
# thin-plate-spline warp and Green coordinates beside the null cell. Four
# points placed with space (snapped to mesh vertices by the moving-least-squares
# cell under the pointer) form a convex cage; one of them is dragged. Every
# deforming cell then shows, at the dragged target, the picture content that
# lay under its original position (Green coordinates do not put a point
# exactly on its target, but within a few pixels of it), and the null cell is
# unchanged.
source "$(dirname "$0")/lib.sh"

{
  cat <<P
General:
  WindowDims [ 800 800 ]
  ColsRows [ 2 2 ]
  Image $SRC/examples/demo.jpg
  Deformators [ Null Spline Affine Green ]
  DeformSetting Mesh
  AnimationFile live.anim
  AnimationOutput frames/
Null:
  Type NullDeformator
Spline:
  Type DeformThinPlateSplineWarp
Affine:
  Type DeformMLS
  MLSType MLS_AFFINE
Green:
  Type DeformGreenCoords
P
  mesh_setting Mesh "0 1 0 1" false 32
} >"$WORK/run.params"

CELLS=(null spline affine Green)
SNAPPED=4
# The spline says once that one and two points are too few for it.
WARNINGS="[WARNING] Spline: the thin-plate spline needs at least three control points; the last good deformation is kept"
source "$(dirname "$0")/four_points.sh"
