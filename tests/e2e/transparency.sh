# Transparency: a colour present in the picture (the white disc) becomes
# transparent in mesh mode, where the grey cell background shows through; pixel
# mode draws it as it is. A colour absent from the picture makes nothing
# transparent.
source "$(dirname "$0")/lib.sh"

write_params "$WORK/run.params" <<P
General:
  WindowDims [ 600 300 ]
  ColsRows [ 2 1 ]
  Image $SRC/examples/demo.jpg
  Deformators [ Pixel Mesh ]
  DeformSetting Clear
  AnimationFile one.anim
  AnimationOutput frames/
Pixel:
  Type NullDeformator
  DeformSetting PixelMode
Mesh:
  Type NullDeformator
PixelMode:
  DeformType DEFORM_PIXEL
Clear:
  DeformType DEFORM_REGULAR_MESH
  MeshResolution [ 10 10 ]
  DefaultRect [ 0 1 0 1 ]
  DrawMesh false
  WhiteToTransparent true
  TransparentColor [ 1 1 1 ]
  TransparencyThreshold 0.2
P
printf '0.9 0.1\n0.9 0.1\n' >"$WORK/one.anim"

start_warpix run.params
wait_window
wait_line "Animation Terminated!"
[ "$(count_lines "NTransparent: ")" -eq 1 ] || fail "one texture with transparency expected"
expect_line "NTransparent: 1"
F0=$WORK/frames/Anim000000.jpg
# The disc's centre is the centre of each square.
expect_colour "$F0" 150 150 "$WHITE" 12 "pixel mode draws the white disc"
expect_colour "$F0" 450 150 "$GREY" 12 "mesh mode shows the background through the disc"
expect_colour "$F0" 382 82 "$RED" 40 "opaque picture around it"
key Escape
wait_exit 5
[ "$STATUS" -eq 0 ] || fail "Escape ended with status $STATUS"
pass "a colour in the picture is transparent in mesh mode"

start_warpix run.params -Clear TransparentColor [ 1 0 1 ] -Clear TransparencyThreshold 0.05
wait_window
wait_line "Animation Terminated!"
expect_line "NTransparent: 0"
expect_colour "$F0" 450 150 "$WHITE" 12 "nothing transparent"
key Escape
wait_exit 5
pass "a colour absent from the picture"
