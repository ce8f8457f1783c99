#include "window/WarpixWindow.h"

// The keys: one table says what each key does and gives the help text that
// '?' prints, so that the two cannot drift apart.
#include <iostream>
#include <string>
#include <string_view>

#include "deform/Warpixator.h"

/// The commands of the key table; each gets the key and the pointer position
/// (GLUT's window coordinates, y downwards).
struct WarpixWindowKeys {
  static void Quit(WarpixWindow& window, unsigned char, int, int) { window.Terminate(); }
  static void Help(WarpixWindow& window, unsigned char, int, int) { window.PrintHelp(); }

  static void HideControlPoints(WarpixWindow& window, unsigned char, int, int) {
    window.m_bHideControlPoints = !window.m_bHideControlPoints;
  }

  static void PrintControlPoints(WarpixWindow& window, unsigned char, int, int) {
    if (!window.m_Deformators.empty()) window.m_Deformators[0]->PrintCtrlPntState();
  }

  // 's' saves the deformation before clearing, 'c' only clears.
  static void ClearControlPoints(WarpixWindow& window, unsigned char key, int, int) {
    for (Warpixator* deformator : window.m_Deformators) deformator->ClearControls(key == 's');
  }

  static void ShowMesh(WarpixWindow& window, unsigned char, int, int) {
    for (Warpixator* deformator : window.m_Deformators) {
      deformator->m_bDrawMesh = !deformator->m_bDrawMesh;
    }
  }

  static void AddControlPoint(WarpixWindow& window, unsigned char, int x, int y) {
    window.AddControlPoint(static_cast<double>(x) / window.m_iWidth,
                           static_cast<double>(window.m_iHeight - y) / window.m_iHeight);
  }

  static void TweakParameter(WarpixWindow& window, unsigned char key, int, int) {
    const double step = key == '+' ? 0.1 : key == '_' ? -0.1 : key == '=' ? 0.01 : -0.01;
    for (Warpixator* deformator : window.m_Deformators) deformator->TweakParameter(step);
  }

  static void ShowLines(WarpixWindow& window, unsigned char, int, int) {
    window.m_bShowLines = !window.m_bShowLines;
  }

  static void ResetView(WarpixWindow& window, unsigned char, int, int) {
    window.m_fZoom = 1.0;
    window.m_fTranslateX = 0.0;
    window.m_fTranslateY = 0.0;
  }

  // Every deformator inverts its own flag; the line shows the first one's new state.
  static void SnapToNonWhite(WarpixWindow& window, unsigned char, int, int) {
    if (window.m_Deformators.empty()) return;
    std::cout << "Snap Vertex To Non-White: "
              << (window.m_Deformators[0]->m_bSnapToNonWhite ? 0 : 1) << std::endl;
    for (Warpixator* deformator : window.m_Deformators) {
      deformator->m_bSnapToNonWhite = !deformator->m_bSnapToNonWhite;
    }
  }

  static void Export(WarpixWindow& window, unsigned char, int, int) { window.ExportCells(); }
  static void Distortion(WarpixWindow& window, unsigned char, int, int) {
    window.ToggleDistortion();
  }

  // The digit keys: the mode of the number, 0 to 9.
  static void ChangeMode(WarpixWindow& window, unsigned char key, int, int) {
    for (Warpixator* deformator : window.m_Deformators) deformator->ChangeMode(key - '0');
  }
};

namespace {

/// One row of the key table: the keys it answers, how the help names them,
/// its help text, and its command.
struct KeyCommand {
  const char* keys;   // "" for a row of the help only
  const char* label;  // nullptr: the first key, quoted; a row without keys or label is a heading
  const char* help;   // nullptr: the row is not in the help
  void (*run)(WarpixWindow& window, unsigned char key, int x, int y);
};

using K = WarpixWindowKeys;

// In the order of the help text; every key in one row at most.
const KeyCommand kKeyCommands[] = {
    {"", nullptr, "Warpix Controls: ", nullptr},
    {"\x1b", nullptr, nullptr, K::Quit},  // Escape
    {"?`", nullptr, nullptr, K::Help},
    {"h", nullptr, "Show/Hide control points", K::HideControlPoints},
    {"p", nullptr, "Print control points", K::PrintControlPoints},
    {"s", nullptr, "Save deformation and clear control points\n\t\t(for iterative deformations)",
     K::ClearControlPoints},
    {"c", nullptr, "Clear control points", K::ClearControlPoints},
    {"m", nullptr, "Show/Hide mesh", K::ShowMesh},
    {" ", nullptr, "(SPACE) Add control point (at a mouse location)", K::AddControlPoint},
    {"+_=-", nullptr,
     "Tweak a parameter (deformator-specific)\n\t\t'+'/'_' (increase by .1)\n\t\t'='/'-' "
     "(increase by 0.01)",
     K::TweakParameter},
    {"l", nullptr, "Show lines (for FPI-lines scheme)", K::ShowLines},
    {"", "CTR", "Hold CONTROL and move mouse (up/down) for zooming", nullptr},
    {"", "SHFT", "Hold SHIFT and move mouse for translation", nullptr},
    {"x", nullptr, "Clear all zooming", K::ResetView},
    {"n", nullptr, "Snap control point to the nearest non-white", K::SnapToNonWhite},
    {"e", nullptr, "Export every cell as a PNG at the picture's size", K::Export},
    {"d", nullptr, "Show/Hide the distortion heat map and print its numbers", K::Distortion},
    {"", nullptr, "In Quasi-Conformal Mode:", nullptr},
    {"1", nullptr, "Standard FPI", K::ChangeMode},
    {"2", nullptr, "FPI + MVC", K::ChangeMode},
    {"3", nullptr, nullptr, K::ChangeMode},
    {"4", nullptr, "FPI + MLS", K::ChangeMode},
    {"5", nullptr, "Quasi-conformal with line constraints", K::ChangeMode},
    {"6", nullptr, "Thin plate splines with line constraints", K::ChangeMode},
    {"7890", "'7..0'", "Toggle lines ", K::ChangeMode},
};

// The row that answers key, nullptr for none.
const KeyCommand* FindKeyCommand(unsigned char key) {
  for (const KeyCommand& command : kKeyCommands) {
    if (command.run != nullptr &&
        std::string_view(command.keys).find(static_cast<char>(key)) != std::string_view::npos) {
      return &command;
    }
  }
  return nullptr;
}

}  // namespace

void WarpixWindow::PrintHelp() const {
  for (const KeyCommand& command : kKeyCommands) {
    if (command.help == nullptr) continue;
    if (command.keys[0] == '\0' && command.label == nullptr) {
      std::cout << command.help << "\n";
      continue;
    }
    const std::string label =
        command.label != nullptr ? command.label : "'" + std::string(1, command.keys[0]) + "'";
    std::cout << "\t" << label << " - " << command.help << "\n";
  }
  std::cout << std::flush;
}

void WarpixWindow::GLUTKeyboardCallback(unsigned char key, int x, int y) {
  if (const KeyCommand* command = FindKeyCommand(key)) {
    command->run(*this, key, x, y);
  } else {
    std::cout << "Key pressed = " << key << std::endl;
  }
  std::cout << std::flush;
  RecordInputState(x, y);
  Update();
}

void WarpixWindow::GLUTSpecialCallback(int /*key*/, int x, int y) {
  RecordInputState(x, y);
  Update();
}
