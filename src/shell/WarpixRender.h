#pragma once

// warpix-render: builds the deformators of a parameter file as warpix does and
// writes what every cell shows to a picture file, without a window (and
// without a display). With --anim it plays an animation script and writes
// every frame of every cell.

/// The whole program. Usage:
///   warpix-render [options] <parameter file> [-Module Key Value ...]
/// Options go before the parameter file; every argument after it is an
/// override token for the parameter file. Returns the exit status: 0 when
/// every file was written, 1 for an unreadable parameter file, picture or
/// animation script, malformed script lines 1 and 2, a missing Image or
/// Deformators key, or a file that could not be written (the other files are
/// still written), 2 for a bad command line (usage and error on standard error).
int WarpixRenderMain(int argc, char const** argv);
