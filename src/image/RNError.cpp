#include "image/RNError.h"

#include <cstdarg>
#include <cstdlib>

FILE* RNerror_file = stderr;
int RNerror_level = 0;

void RNSetErrorFile(FILE* file) { RNerror_file = file; }

void RNSetErrorLevel(int level) { RNerror_level = level; }

namespace {

// The banner goes through perror, so it lands on standard error with the text
// of whatever errno an earlier library call left; the message follows on
// RNerror_file with the line end the formats leave out.
void Report(const char* banner, const char* format, va_list args) {
  perror(banner);
  if (format != nullptr) {
    vfprintf(RNerror_file, format, args);
    fputc('\n', RNerror_file);
  }
}

}  // namespace

void RNWarning(const char* format, ...) {
  if (RNerror_level > 0 || RNerror_file == nullptr) return;
  va_list args;
  va_start(args, format);
  Report("KELP WARNING", format, args);
  va_end(args);
}

void RNFail(const char* format, ...) {
  if (RNerror_file == nullptr) return;
  va_list args;
  va_start(args, format);
  Report("KELP ERROR", format, args);
  va_end(args);
}

void RNAbort(const char* format, ...) {
  if (RNerror_file != nullptr) {
    va_list args;
    va_start(args, format);
    Report("KELP FATAL ERROR.  ABORTING:", format, args);
    va_end(args);
    fflush(RNerror_file);
  }
  fflush(stdout);
  fflush(stderr);
  abort();
}
