#include "shell/SweepCases.h"

#include <cmath>
#include <istream>

#include <nlohmann/json.hpp>

namespace {

// Deeper nesting than a list of pairs inside an object is no case, and a
// parser walking it recursively could exhaust the stack.
bool NestedTooDeeply(const std::string& line) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
      continue;
    }
    if (c == '"') inString = true;
    if (c == '[' || c == '{') ++depth;
    if (c == ']' || c == '}') --depth;
    if (depth > 4) return true;
  }
  return false;
}

// The points of key as flat x, y values, or the reason they are not.
std::string ReadPoints(const nlohmann::json& object, const char* key, std::vector<double>& flat) {
  const auto it = object.find(key);
  if (it == object.end()) return std::string("\"") + key + "\" is missing";
  if (!it->is_array()) return std::string("\"") + key + "\" is not a list of [x, y] pairs";
  if (it->size() > static_cast<size_t>(SweepCaseReader::kMaxPoints)) {
    return std::string("\"") + key + "\" has more than " +
           std::to_string(SweepCaseReader::kMaxPoints) + " points";
  }
  for (size_t k = 0; k < it->size(); ++k) {
    const nlohmann::json& point = (*it)[k];
    if (!point.is_array() || point.size() != 2 || !point[0].is_number() || !point[1].is_number()) {
      return std::string("\"") + key + "\" point " + std::to_string(k) + " is not [x, y]";
    }
    for (int c = 0; c < 2; ++c) {
      const double v = point[c].get<double>();
      if (!std::isfinite(v)) {
        return std::string("\"") + key + "\" point " + std::to_string(k) + " is not finite";
      }
      if (!(v > 0.0 && v < 1.0)) {
        return std::string("\"") + key + "\" point " + std::to_string(k) +
               " lies outside the open unit square (0, 1)^2";
      }
      flat.push_back(v);
    }
  }
  return std::string();
}

}  // namespace

SweepCaseReader::SweepCaseReader(std::istream& in, int firstLine) : m_In(in), m_iLine(firstLine - 1) {}

bool SweepCaseReader::Next(SweepCase& out) {
  std::string line;
  while (std::getline(m_In, line)) {
    ++m_iLine;
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    out = Parse(line, m_iLine);
    return true;
  }
  return false;
}

SweepCase SweepCaseReader::Parse(const std::string& line, int lineNumber) {
  SweepCase c;
  c.m_iLine = lineNumber;
  c.m_Name = "line " + std::to_string(lineNumber);
  const std::string where = "line " + std::to_string(lineNumber) + ": ";
  if (NestedTooDeeply(line)) {
    c.m_Reason = where + "nested too deeply for a case";
    return c;
  }
  const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
  if (object.is_discarded()) {
    // NaN, Infinity and numbers beyond the doubles' range are no JSON numbers.
    c.m_Reason = where + "not valid JSON";
    return c;
  }
  if (!object.is_object()) {
    c.m_Reason = where + "not a JSON object";
    return c;
  }
  const auto name = object.find("case");
  if (name != object.end()) {
    if (!name->is_string()) {
      c.m_Reason = where + "\"case\" is not a string";
      return c;
    }
    c.m_Name = name->get<std::string>();
  }
  std::string reason = ReadPoints(object, "orig", c.m_Orig);
  if (reason.empty()) reason = ReadPoints(object, "target", c.m_Target);
  if (reason.empty() && c.m_Orig.size() != c.m_Target.size()) {
    reason = "\"orig\" has " + std::to_string(c.m_Orig.size() / 2) + " points, \"target\" " +
             std::to_string(c.m_Target.size() / 2);
  }
  if (reason.empty() && c.m_Orig.empty()) reason = "no control points";
  for (size_t a = 0; reason.empty() && a < c.m_Orig.size(); a += 2) {
    for (size_t b = a + 2; reason.empty() && b < c.m_Orig.size(); b += 2) {
      if (std::hypot(c.m_Orig[a] - c.m_Orig[b], c.m_Orig[a + 1] - c.m_Orig[b + 1]) < kCoincident) {
        reason = "\"orig\" points " + std::to_string(a / 2) + " and " + std::to_string(b / 2) +
                 " coincide";
      }
    }
  }
  if (!reason.empty()) {
    c.m_Reason = where + reason;
    c.m_Orig.clear();
    c.m_Target.clear();
  }
  return c;
}
