# Mean value coordinates and moving least squares in the real window: four
# points placed with space (snapped to mesh vertices by the moving-least-squares
# cell under the pointer) and one of them dragged. The frame then shows, at the
# dragged target, the picture content that lay under its original position in
# the mean-value and both moving-least-squares cells, while the null cell is
# unchanged.
source "$(dirname "$0")/lib.sh"

{
  cat <<P
General:
  WindowDims [ 800 800 ]
  ColsRows [ 2 2 ]
  Image $SRC/examples/demo.jpg
  Deformators [ Null MeanValue Similarity Rigid ]
  DeformSetting Mesh
  AnimationFile live.anim
  AnimationOutput frames/
Null:
  Type NullDeformator
MeanValue:
  Type DeformMeanValueCoords
Similarity:
  Type DeformMLS
  MLSType MLS_FIT_SIMILARITY
Rigid:
  Type DeformMLS
  MLSType MLS_RIGID
P
  mesh_setting Mesh "0 1 0 1" false 32
} >"$WORK/run.params"

CELLS=(null "mean value" similarity rigid)
SNAPPED=8
WARNINGS=""
source "$(dirname "$0")/four_points.sh"
