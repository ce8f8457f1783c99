#pragma once

// The support library's error reporters and scalar bounds.
//
// A report first writes its banner with perror (so to standard error, followed
// by ": " and the text of the current errno), then, when the format is not
// null, the formatted message and a line end to RNerror_file.
#include <cstdio>

/// Large scalar bound (the distance to beat in nearest-point searches).
inline constexpr double RN_INFINITY = 1e6;
/// Small scalar tolerance.
inline constexpr double RN_EPSILON = 1e-6;

/// Where message texts go (default: stderr); null silences RNWarning and RNFail.
extern FILE* RNerror_file;
/// Warnings print only while this is 0 or less (default: 0).
extern int RNerror_level;

/// Replaces RNerror_file; null silences the reporters' message texts.
void RNSetErrorFile(FILE* file);
/// Replaces RNerror_level.
void RNSetErrorLevel(int level);

/// Banner "KELP WARNING" and the message, when RNerror_level <= 0 and a file is set.
void RNWarning(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// Banner "KELP ERROR" and the message, when a file is set. The caller returns
/// its own failure value.
void RNFail(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// Banner "KELP FATAL ERROR.  ABORTING:" and the message, flushes the streams
/// and ends the program abnormally.
[[noreturn]] void RNAbort(const char* format, ...) __attribute__((format(printf, 1, 2)));
