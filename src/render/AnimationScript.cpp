#include "render/AnimationScript.h"

#include <iostream>

#include "deform/Warpixator.h"
#include "support/ZelString.h"

void AnimationScript::ReadStartLines(std::istream& script, ZelStringList& oldPoints,
                                     ZelStringList& newPoints) {
  ZelString firstLine;
  ZelString secondLine;
  firstLine.readLine(script);
  secondLine.readLine(script);
  oldPoints = firstLine.split(" ");
  newPoints = secondLine.split(" ");
}

AnimationScript::StartCheck AnimationScript::ParseStart(const ZelStringList& oldPoints,
                                                        const ZelStringList& newPoints,
                                                        const char* scriptName,
                                                        std::vector<double>& originals,
                                                        std::vector<double>& targets) {
  originals.clear();
  targets.clear();
  if (oldPoints.count() != newPoints.count()) {
    std::cout << "[ERROR] Animation script " << scriptName << ": line 1 has "
              << oldPoints.count() << " values, line 2 has " << newPoints.count() << std::endl;
    return StartCheck::kLengthsDiffer;
  }
  std::cout << "Initializing anim: " << oldPoints.count() << " " << newPoints.count()
            << std::endl;
  if (oldPoints.count() % 2 != 0) {
    std::cout << "[ERROR] Animation script " << scriptName << ": " << oldPoints.count()
              << " values do not make whole (x, y) pairs" << std::endl;
    return StartCheck::kOddCount;
  }
  for (int line = 0; line < 2; ++line) {
    const ZelStringList& tokens = line == 0 ? oldPoints : newPoints;
    std::vector<double>& values = line == 0 ? originals : targets;
    for (const ZelString& token : tokens) {
      bool ok = false;
      values.push_back(token.toDouble(&ok));
      if (!ok) {
        std::cout << "[ERROR] Animation script " << scriptName << ": '" << token
                  << "' on line " << line + 1 << " is not a number" << std::endl;
        return StartCheck::kNotANumber;
      }
    }
  }
  return StartCheck::kOk;
}

AnimationScript::FrameLine AnimationScript::ReadFrame(std::istream& script, int valuesPerLine,
                                                      std::vector<double>& values) {
  ZelString line;
  line.readLine(script);
  if (script.fail()) return FrameLine::kEnd;
  const ZelStringList tokens = line.split(" ");
  if (valuesPerLine < 0 || tokens.count() < valuesPerLine) return FrameLine::kSkipped;

  values.assign(static_cast<size_t>(valuesPerLine), 0.0);
  for (int i = 0; i < valuesPerLine; ++i) {
    bool ok = false;
    values[i] = tokens[i].toDouble(&ok);
    if (!ok) {
      std::cout << "[WARNING] Animation line skipped: '" << tokens[i] << "' is not a number"
                << std::endl;
      return FrameLine::kSkipped;
    }
  }
  return FrameLine::kFrame;
}

void AnimationScript::Start(const std::vector<Warpixator*>& deformators,
                            std::vector<double>& originals, std::vector<double>& targets) {
  for (Warpixator* deformator : deformators) {
    deformator->ClearControls(false);
    deformator->InitializeCtrlPntState(originals, targets);
  }
}

void AnimationScript::Apply(const std::vector<Warpixator*>& deformators,
                            const std::vector<double>& values) {
  for (Warpixator* deformator : deformators) {
    if (deformator->m_ControlPointsNewPos.size() == values.size()) {
      std::vector<double> moved = values;
      deformator->MoveAllControlPoints(moved);
    } else {
      std::vector<double> mixed = deformator->m_ControlPointsNewPos;
      for (size_t i = 0; i < mixed.size() && i < values.size(); ++i) mixed[i] = values[i];
      deformator->MoveAllControlPoints(mixed);
    }
  }
}
