#pragma once

#include <fstream>
#include <string>
#include <vector>

#include "render/AnimationScript.h"

class Warpixator;

/// Plays an animation script on deformators one frame at a time, for both
/// programs: the window writes a frame per redraw, warpix-render in a loop.
/// Each caller writes the frames its own way and decides what a script that
/// cannot start means (the window stops, warpix-render fails with status 1).
///
/// Frame 0 shows lines 1 and 2. After a frame is written, Advance reads the
/// next line: a line of numbers moves every deformator's targets and makes
/// the next frame; a short line or one that is not numbers moves nothing.
class AnimationPlayer {
 public:
  /// How Open treats a path that names a folder, which a stream opens but
  /// reads nothing from.
  enum class Folder {
    kPlayEmpty,  // as a script of two empty lines: no point, no frame due (the window)
    kRefuse      // as a file that cannot be opened (warpix-render)
  };

  /// What Open found.
  struct Opening {
    bool opened = false;  // false: "[ERROR] Cannot open animation script <path>" was printed
    AnimationScript::StartCheck check = AnimationScript::StartCheck::kOk;  // of lines 1 and 2
    bool Plays() const { return opened && check == AnimationScript::StartCheck::kOk; }
  };

  /// Stops what was playing, opens the script and checks lines 1 and 2 (a
  /// problem is printed, see AnimationScript::ParseStart). When they are good,
  /// their points replace every deformator's own and frame 0 starts. The
  /// deformators must outlive the playing.
  Opening Open(const std::string& path, const std::vector<Warpixator*>& deformators,
               Folder folder);

  /// Whether a script plays (opened and started, not stopped).
  bool Playing() const { return m_iFrame >= 0; }
  /// The frame the deformators show now (-1 when nothing plays).
  int Frame() const { return m_iFrame; }
  /// True when nothing is left to read in the script.
  bool Exhausted() const { return AnimationScript::Exhausted(m_Script); }
  /// Whether the current frame is still to be written by a caller that writes
  /// the current frame once per step, skipped lines included (the window).
  /// False once nothing is left to read, except that the frame of a line that
  /// ended the file without a newline is still due (once). After Open, frame 0
  /// is due only when the script goes on after line 2.
  bool FrameDue() const { return m_bFrameDue; }

  /// Called once the current frame is written; reads the next line:
  ///   kFrame    the targets moved: Frame() is the next frame, due;
  ///   kSkipped  nothing moved (the warning is printed): the same frame is
  ///             due again while the script goes on;
  ///   kEnd      nothing was left to read: no frame due.
  AnimationScript::FrameLine Advance();

  /// Ends the playing (Frame() -1).
  void Stop();

 private:
  std::ifstream m_Script;
  std::vector<Warpixator*> m_Deformators;
  int m_iValuesPerLine = 0;
  int m_iFrame = -1;
  bool m_bFrameDue = false;
};
