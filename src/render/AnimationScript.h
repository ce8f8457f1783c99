#pragma once

#include <istream>
#include <vector>

#include "support/ZelStringList.h"

class Warpixator;

/// Reading an animation script and applying it to deformators, apart from the
/// window's redraw loop so that a program without a window plays scripts the
/// same way (AnimationPlayer plays them for both). Line 1 holds the original control points (x y pairs), line 2
/// their starting targets, every later line one frame's targets; lines are
/// split at blanks.
class AnimationScript {
 public:
  /// What ReadFrame found on the next line.
  enum class FrameLine {
    kFrame,    // values holds the frame's targets
    kSkipped,  // a line with too few values, or one that is not a number (warned)
    kEnd       // nothing left to read
  };

  /// The first problem ParseStart found in lines 1 and 2.
  enum class StartCheck {
    kOk,
    kLengthsDiffer,  // lines 1 and 2 hold different numbers of values
    kOddCount,       // the values do not make whole (x, y) pairs
    kNotANumber      // a token is not a number
  };

  /// Reads lines 1 and 2 of script, each split at blanks.
  static void ReadStartLines(std::istream& script, ZelStringList& oldPoints,
                             ZelStringList& newPoints);

  /// Checks lines 1 and 2 (script named scriptName in messages) and reads them
  /// into originals and targets. Stops at the first problem with one
  /// "[ERROR] Animation script ..." line; prints "Initializing anim: <n> <n>"
  /// once the lengths agree. The window turns a problem into a fatal stop.
  static StartCheck ParseStart(const ZelStringList& oldPoints, const ZelStringList& newPoints,
                               const char* scriptName, std::vector<double>& originals,
                               std::vector<double>& targets);

  /// Reads the next frame line: its first valuesPerLine numbers (later ones
  /// are ignored) into values.
  static FrameLine ReadFrame(std::istream& script, int valuesPerLine,
                             std::vector<double>& values);

  /// True when nothing is left to read (the stream is at its end or failed).
  static bool Exhausted(const std::istream& script) { return script.eof() || script.fail(); }

  /// The script's points replace the deformators' own, so every frame line
  /// carries exactly one value per target coordinate.
  static void Start(const std::vector<Warpixator*>& deformators,
                    std::vector<double>& originals, std::vector<double>& targets);

  /// Moves every deformator's targets to values. A deformator whose points were
  /// added or cleared by hand meanwhile gets the first targets the line covers
  /// and keeps its others where they are.
  static void Apply(const std::vector<Warpixator*>& deformators,
                    const std::vector<double>& values);
};
