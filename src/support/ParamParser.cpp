#include "support/ParamParser.h"

#include <fstream>
#include <iostream>

#include "support/WarpixAssert.h"

namespace {

ZelString StripBrackets(ZelString token) {
  token.replace("[", "");
  token.replace("]", "");
  return token;
}

// Every value converted in order; a failed conversion stores 0 and clears valid.
template <typename Convert>
auto ConvertAll(const ZelStringList& values, bool& valid, Convert convert) {
  std::vector<decltype(convert(ZelString(), nullptr))> result;
  for (const ZelString& value : values) {
    bool ok = false;
    result.push_back(convert(value, &ok));
    valid = valid && ok;
  }
  return result;
}

// The tokens of a parameter file: its text split at blanks, tabs and newlines.
ZelStringList ReadTokens(std::ifstream& file) {
  ZelString text(file);
  text.replace("\n", " ");
  text.replace("\t", " ");
  return text.split(" ");
}

// Reads the value of key from commands[i] on into values: one token, or a
// bracketed list, whose elements run until a token that is "]" or ends with
// "]" (a list without its end keeps what it read, with a warning). Returns
// the index of the token after the value.
int ReadValues(const ZelStringList& commands, int i, const ZelString& module,
               const ZelString& key, ZelStringList& values) {
  const ZelString& value = commands[i];
  if (!value.startsWith("[") || value.endsWith("]")) {
    values.push_back(StripBrackets(value));
    return i + 1;
  }
  int element = (value == "[") ? i + 1 : i;
  for (; element < commands.count(); ++element) {
    const ZelString& item = commands[element];
    if (item == "]") return element + 1;
    values.push_back(StripBrackets(item));
    if (item.endsWith("]")) return element + 1;
  }
  std::cout << "[WARNING] List of key '" << key << "' in module '" << module
            << "' has no closing ']'; keeping the " << values.count() << " values read"
            << std::endl;
  return element + 1;
}

}  // namespace

ParamParser::ParamParser(const ZelString& fileName, char const** overrides,
                         int overrideCount) {
  std::ifstream file(fileName.c_str(), std::ios::binary);
  ZelStringList tokens;
  if (!file.is_open()) {
    if (overrideCount <= 0) {
      std::cout << "[ERROR] Param File does not exist and no command line arguments provided: "
                << fileName << std::endl;
      WARPIX_CONFIG_ASSERT(false);
    }
  } else {
    tokens = ReadTokens(file);
  }
  for (int i = 0; i < overrideCount; ++i) tokens.push_back(ZelString(overrides[i]));

  // Walk the tokens: headers switch the module, every other token is a key
  // followed by one value or a bracketed list. The alias is kept because its
  // name is part of the fatal message "commands.count()>i".
  const ZelStringList& commands = tokens;
  ZelString module("General");
  int i = 0;
  while (i < commands.count()) {
    const ZelString& token = commands[i];
    if (token.startsWith("-") || token.endsWith(":")) {
      module = token;
      module.replace("-", "");
      module.replace(":", "");
      ++i;
      continue;
    }
    if (module == "Invalid") {
      ++i;
      continue;
    }
    ZelStringList& values = m_Params[module][token];
    values.clear();
    ++i;
    if (!(commands.count() > i)) {
      std::cout << "Failed to read file: " << fileName << std::endl;
      WARPIX_CONFIG_ASSERT(commands.count()>i);
    }
    i = ReadValues(commands, i, module, token, values);
  }
}

const ZelStringList* ParamParser::Find(const ZelString& module, const ZelString& key) const {
  auto moduleIt = m_Params.find(module);
  if (moduleIt == m_Params.end()) return nullptr;
  auto keyIt = moduleIt->second.find(key);
  if (keyIt == moduleIt->second.end()) return nullptr;
  return &keyIt->second;
}

ZelString ParamParser::GetStrValue(const ZelString& module, const ZelString& key,
                                   bool& valid) const {
  const ZelStringList* values = Find(module, key);
  valid = values != nullptr && values->count() > 0;
  return valid ? (*values)[0] : ZelString();
}

const ZelStringList& ParamParser::GetStrValues(const ZelString& module, const ZelString& key,
                                               bool& valid) const {
  const ZelStringList* values = Find(module, key);
  valid = values != nullptr;
  return valid ? *values : m_EmptyList;
}

int ParamParser::GetIntValue(const ZelString& module, const ZelString& key,
                             bool& valid) const {
  const ZelString text = GetStrValue(module, key, valid);
  if (!valid) return -1;
  return text.toInt(&valid);
}

double ParamParser::GetDoubleValue(const ZelString& module, const ZelString& key,
                                   bool& valid) const {
  const ZelString text = GetStrValue(module, key, valid);
  if (!valid) return -1.0;
  return text.toDouble(&valid);
}

std::vector<int> ParamParser::GetIntValues(const ZelString& module, const ZelString& key,
                                           bool& valid) const {
  return ConvertAll(GetStrValues(module, key, valid), valid,
                    [](const ZelString& text, bool* ok) { return text.toInt(ok); });
}

std::vector<double> ParamParser::GetDoubleValues(const ZelString& module, const ZelString& key,
                                                 bool& valid) const {
  return ConvertAll(GetStrValues(module, key, valid), valid,
                    [](const ZelString& text, bool* ok) { return text.toDouble(ok); });
}

void ParamParser::PrintParams() const {
  for (const auto& module : m_Params) {
    std::cout << "Module = " << module.first << "\n";
    for (const auto& key : module.second)
      std::cout << "\t'" << key.first << "' = [" << key.second.join(", ") << "]\n";
  }
  std::cout.flush();
}

void ParamParser::WriteParams(const ZelString& fileName) const {
  std::ofstream textStream(fileName.c_str(), std::ios::trunc);
  WARPIX_ASSERT(textStream.is_open());
  for (const auto& module : m_Params) {
    textStream << module.first << ":\n";
    for (const auto& key : module.second)
      textStream << "\t" << key.first << "\t[" << key.second.join(", ") << "]\n";
  }
  textStream.close();
}
