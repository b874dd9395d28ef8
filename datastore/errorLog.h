// errorLog.h - formatted fatal errors for the library's own modules. Not
// installed.
#ifndef TAVO_DATASTORE_ERRORLOG_H
#define TAVO_DATASTORE_ERRORLOG_H

namespace tavo::detail {

// Formats the message as printf does and reports it through errorOut(): the
// one way the library reports a fatal error whose message carries values.
[[noreturn]] void fatalf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace tavo::detail

#endif  // TAVO_DATASTORE_ERRORLOG_H
