// libFuzzer target for the parameter file and its command-line overrides.
// The input up to its first NUL byte is the file (written to a scratch file;
// an input that starts with NUL names a file that does not exist), the rest
// the override tokens, split at blanks and further NUL bytes as a shell
// splits arguments. Every getter then runs on module and key names taken from
// the text and on fixed ones, and the answers must agree with each other.
// The documented fatal stops of the parser (a missing file without overrides,
// a key as the last token) are expected; any other stop, crash, sanitizer
// report or leak is a finding (this target runs with leak detection on: an
// unwinding constructor destroys what it built).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "support/ParamParser.h"
#include "support/WarpixAssert.h"

namespace {

constexpr int kMaxTextNames = 8;  // names taken from the text per input

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\0'; }

// The blank-separated words of text[0, size).
std::vector<std::string> Words(const char* text, size_t size) {
  std::vector<std::string> words;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || IsBlank(text[i])) {
      if (i > start) words.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }
  return words;
}

// Every getter on one module and key; the answers must fit together.
void Query(const ParamParser& params, const ZelString& module, const ZelString& key) {
  bool strValid = false, listValid = false, valid = false;
  const ZelString first = params.GetStrValue(module, key, strValid);
  const ZelStringList& values = params.GetStrValues(module, key, listValid);
  // A single value exists exactly when the list exists and is not empty.
  if (strValid != (listValid && values.count() > 0)) abort();
  if (strValid && !(first == values[0])) abort();
  params.GetIntValue(module, key, valid);
  params.GetDoubleValue(module, key, valid);
  if (params.GetIntValues(module, key, valid).size() != static_cast<size_t>(values.count())) abort();
  if (params.GetDoubleValues(module, key, valid).size() != static_cast<size_t>(values.count()))
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = warpix_fuzz::ScratchPath(".params");
  static const std::string written = warpix_fuzz::ScratchPath(".written");
  const char* text = reinterpret_cast<const char*>(data);
  const char* nul = static_cast<const char*>(memchr(text, 0, size));
  const size_t fileSize = nul != nullptr ? static_cast<size_t>(nul - text) : size;

  // The file part; an empty one before a NUL means "no such file".
  remove(path.c_str());
  if ((nul == nullptr || fileSize > 0) && !warpix_fuzz::WriteFile(path, text, fileSize)) return 0;
  const std::vector<std::string> overrides =
      nul != nullptr ? Words(nul + 1, size - fileSize - 1) : std::vector<std::string>();
  std::vector<const char*> argv;
  for (const std::string& token : overrides) argv.push_back(token.c_str());

  // Modules and keys to ask for: words of the text as they stand and as a
  // header names its module, then the fixed names of the program.
  std::vector<ZelString> modules{"General", "Invalid", ""};
  std::vector<ZelString> keys{"Deformators", "Image", "Type", "MeshResolution", "History", ""};
  std::vector<std::string> words = Words(text, size);
  if (words.size() > kMaxTextNames) words.resize(kMaxTextNames);
  for (const std::string& word : words) {
    ZelString module(word);
    module.replace("-", "");
    module.replace(":", "");
    modules.push_back(module);
    modules.push_back(ZelString(word));
    keys.push_back(ZelString(word));
  }

  warpix_fuzz::QuietOutput quiet;
  try {
    const ParamParser params(path, argv.data(), static_cast<int>(argv.size()));
    for (const ZelString& module : modules)
      for (const ZelString& key : keys) Query(params, module, key);
    params.PrintParams();
    params.WriteParams(written);
  } catch (const warpix::AssertUnwind& stop) {
    if (!warpix_fuzz::IsDocumentedStop(stop, {"ParamParser"})) warpix_fuzz::UndocumentedStop(stop);
  }
  remove(path.c_str());
  remove(written.c_str());
  return 0;
}
