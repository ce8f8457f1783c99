// Refused: only the window program's main may include the window; the
// programs' library links no GL.
#include "window/WarpixWindow.h"
