#pragma once

#include <functional>
#include <string>
#include <utility>

#include "corvanta/Export.h"

namespace corvanta {

enum class LogLevel { Debug, Info, Warning, Error };

// The host's process-wide logger: one line per call, by default written to
// stderr as "<level>: <line>" (e.g. "error: ..."). A sink replaces stderr and
// receives the level and the line as given (tests and tools capture lines
// with it). Calls are serialised, so lines from several threads never
// interleave; a sink must therefore not log itself.
class CORVANTA_API Logger {
public:
    using Sink = std::function<void(LogLevel, const std::string&)>;

    static void debug(const std::string& line);
    static void info(const std::string& line);
    static void warning(const std::string& line);
    static void error(const std::string& line);
    static void log(LogLevel level, const std::string& line);

    // An empty sink restores the default (stderr). Returns the previous sink.
    static Sink setSink(Sink sink);
    // Lines below this level are dropped (default: Debug, i.e. none).
    static void setMinimumLevel(LogLevel level);

    static const char* levelName(LogLevel level);
};

// Installs a sink for its own lifetime and then puts the previous one back.
class ScopedLogSink {
public:
    explicit ScopedLogSink(Logger::Sink sink) : previous(Logger::setSink(std::move(sink))) {}
    ~ScopedLogSink() { Logger::setSink(std::move(previous)); }
    ScopedLogSink(const ScopedLogSink&) = delete;
    ScopedLogSink& operator=(const ScopedLogSink&) = delete;

private:
    Logger::Sink previous;
};

}  // namespace corvanta
