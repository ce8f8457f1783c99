#include "render/AnimationPlayer.h"

#include <filesystem>
#include <iostream>
#include <system_error>

#include "support/ZelStringList.h"

AnimationPlayer::Opening AnimationPlayer::Open(const std::string& path,
                                               const std::vector<Warpixator*>& deformators,
                                               Folder folder) {
  Stop();
  m_Script = std::ifstream();
  std::error_code error;
  if (folder == Folder::kPlayEmpty || !std::filesystem::is_directory(path, error)) {
    m_Script.open(path);
  }
  Opening opening;
  opening.opened = m_Script.is_open();
  if (!opening.opened) {
    std::cout << "[ERROR] Cannot open animation script " << path << std::endl;
    return opening;
  }

  ZelStringList oldPoints;
  ZelStringList newPoints;
  AnimationScript::ReadStartLines(m_Script, oldPoints, newPoints);
  std::vector<double> originals;
  std::vector<double> targets;
  opening.check = AnimationScript::ParseStart(oldPoints, newPoints, path.c_str(), originals, targets);
  if (!opening.Plays()) return opening;

  m_Deformators = deformators;
  AnimationScript::Start(m_Deformators, originals, targets);
  m_iValuesPerLine = static_cast<int>(originals.size());
  m_iFrame = 0;
  m_bFrameDue = !Exhausted();
  return opening;
}

AnimationScript::FrameLine AnimationPlayer::Advance() {
  std::vector<double> values;
  const AnimationScript::FrameLine line =
      Playing() ? AnimationScript::ReadFrame(m_Script, m_iValuesPerLine, values)
                : AnimationScript::FrameLine::kEnd;
  switch (line) {
    case AnimationScript::FrameLine::kFrame:
      AnimationScript::Apply(m_Deformators, values);
      ++m_iFrame;
      m_bFrameDue = true;
      break;
    case AnimationScript::FrameLine::kSkipped:
      m_bFrameDue = !Exhausted();
      break;
    case AnimationScript::FrameLine::kEnd:
      // Also after the frame of a line that ended the file: it was the last one due.
      m_bFrameDue = false;
      break;
  }
  return line;
}

void AnimationPlayer::Stop() {
  m_iFrame = -1;
  m_bFrameDue = false;
}
