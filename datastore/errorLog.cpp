// errorLog.cpp - the one sink of fatal errors: console, errors.txt, exit.
#include "datastore/errorLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "datastore/dataFetcher.h"
#include "formats/textReader.h"

namespace {

// Replaceable by tests and fuzzers; the default ends the process.
ErrorHandler g_errorHandler = nullptr;

[[noreturn]] void endProcess(const char* message) {
  std::fflush(stdout);
  if (g_errorHandler != nullptr) g_errorHandler(message);
  // A failure must never look like success to the caller of the program.
  std::exit(1);
}

}  // namespace

void errorOut(const char* msg) {
  if (msg == nullptr) msg = "(no message)";
  // The console line comes first, so it is seen even when the log cannot be
  // opened (a read-only working directory, say).
  std::printf("\nERROR: %s\n", msg);
  if (std::FILE* log = std::fopen("errors.txt", "a")) {
    std::fprintf(log, "\nERROR: %s\n", msg);
    std::fclose(log);
  }
  endProcess(msg);
}

void errorOut_noLog(const char* text) {
  if (text == nullptr) text = "(no message)";
  std::fputs(text, stdout);
  endProcess(text);
}

void tavo::detail::fatalf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string message = formatTextV(format, args);
  va_end(args);
  errorOut(message.c_str());
}

ErrorHandler setErrorHandler(ErrorHandler handler) {
  ErrorHandler previous = g_errorHandler;
  g_errorHandler = handler;
  return previous;
}
