#include "corvanta/Logger.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

namespace corvanta {

namespace {

struct LoggerState {
    std::mutex mutex;  // serialises lines and guards sink
    Logger::Sink sink;
    std::atomic<int> minimumLevel{static_cast<int>(LogLevel::Debug)};
};

LoggerState& state() {
    static LoggerState instance;
    return instance;
}

void writeToStderr(LogLevel level, const std::string& line) {
    std::fprintf(stderr, "%s: %s\n", Logger::levelName(level), line.c_str());
    std::fflush(stderr);
}

}  // namespace

void Logger::debug(const std::string& line) { log(LogLevel::Debug, line); }
void Logger::info(const std::string& line) { log(LogLevel::Info, line); }
void Logger::warning(const std::string& line) { log(LogLevel::Warning, line); }
void Logger::error(const std::string& line) { log(LogLevel::Error, line); }

void Logger::log(LogLevel level, const std::string& line) {
    auto& logger = state();
    if (static_cast<int>(level) < logger.minimumLevel.load(std::memory_order_relaxed)) return;
    // Held while the sink runs so lines never interleave; a sink must not log.
    std::lock_guard lock(logger.mutex);
    if (logger.sink) {
        logger.sink(level, line);
    } else {
        writeToStderr(level, line);
    }
}

Logger::Sink Logger::setSink(Sink sink) {
    auto& logger = state();
    std::lock_guard lock(logger.mutex);
    return std::exchange(logger.sink, std::move(sink));
}

void Logger::setMinimumLevel(LogLevel level) {
    state().minimumLevel.store(static_cast<int>(level), std::memory_order_relaxed);
}

const char* Logger::levelName(LogLevel level) {
    switch (level) {
        case LogLevel::Debug: return "debug";
        case LogLevel::Info: return "info";
        case LogLevel::Warning: return "warning";
        case LogLevel::Error: return "error";
    }
    return "unknown";
}

}  // namespace corvanta
