// A GL header the check must refuse in render.
#include <GL/gl.h>
