# Export: "e" writes every cell at the picture's own size as a PNG named
# <AnimationOutput><cell>_<module>.png (the missing folder is made) and prints
# one line per file. A pixel-mode cell is the picture itself; a mesh cell whose
# targets are the originals moved 1/16 to the right is the picture moved 32 of
# its 512 pixels.
source "$(dirname "$0")/lib.sh"

{
  general 800 400 2 1 "Pixel Moved" AnimationOutput exports/sub/ \
    InitCtrlPnts "[ 0.25 0.25 0.75 0.3 0.5 0.75 ]" \
    DeformCtrlPnts "[ 0.3125 0.25 0.8125 0.3 0.5625 0.75 ]"
  null_modules Pixel
  echo "  DeformSetting PixelMode"
  printf 'Moved:\n  Type DeformMLS\n  MLSType MLS_FIT_SIMILARITY\n  DeformSetting Mesh\n'
  printf 'PixelMode:\n  DeformType DEFORM_PIXEL\n'
  mesh_setting Mesh "0 1 0 1" false 20
} >"$WORK/run.params"

start_warpix run.params
wait_window
key e
wait_line "Exported " 2
expect_line "Exported exports/sub/00_Pixel.png (512x512)"
expect_line "Exported exports/sub/01_Moved.png (512x512)"
expect_size "$WORK/exports/sub/00_Pixel.png" 512 512
expect_size "$WORK/exports/sub/01_Moved.png" 512 512
pass "e writes one PNG per cell and prints its line"

for xy in "100 100" "300 200" "450 420"; do
  set -- $xy
  read_pixel "$SRC/examples/demo.jpg" "$1" "$2"
  expect_colour "$WORK/exports/sub/00_Pixel.png" "$1" "$2" "$PIX" 0 "pixel cell equals the picture"
  expect_colour "$WORK/exports/sub/01_Moved.png" $(($1 + 32)) "$2" "$PIX" 3 "mesh cell is the picture moved"
done
pass "the exported cells show the picture and its translation"
quit
