# Transparency: a colour present in the picture (the white disc) becomes
# transparent in mesh mode, where the grey cell background shows through; pixel
# mode draws it as it is. A colour absent from the picture makes nothing
# transparent.
source "$(dirname "$0")/lib.sh"

{
  general 600 300 2 1 "Pixel Mesh" DeformSetting Clear AnimationFile one.anim \
    AnimationOutput frames/
  null_modules Pixel
  echo "  DeformSetting PixelMode"
  null_modules Mesh
  printf 'PixelMode:\n  DeformType DEFORM_PIXEL\n'
  mesh_setting Clear "0 1 0 1" true
  printf '  TransparentColor [ 1 1 1 ]\n  TransparencyThreshold 0.2\n'
} >"$WORK/run.params"
printf '0.9 0.1\n0.9 0.1\n' >"$WORK/one.anim"

play run.params
[ "$(count_lines "NTransparent: ")" -eq 1 ] || fail "one texture with transparency expected"
expect_line "NTransparent: 1"
F0=$WORK/frames/Anim000000.jpg
# The disc's centre is the centre of each square.
expect_colour "$F0" 150 150 "$WHITE" 12 "pixel mode draws the white disc"
expect_colour "$F0" 450 150 "$GREY" 12 "mesh mode shows the background through the disc"
expect_colour "$F0" 382 82 "$RED" 40 "opaque picture around it"
quit
pass "a colour in the picture is transparent in mesh mode"

play run.params -Clear TransparentColor [ 1 0 1 ] -Clear TransparencyThreshold 0.05
expect_line "NTransparent: 0"
expect_colour "$F0" 450 150 "$WHITE" 12 "nothing transparent"
quit
pass "a colour absent from the picture"
