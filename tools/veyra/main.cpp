#include <cstdio>
#include <cstring>
#include <span>

#include "Commands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(std::span<char* const>);
    const char* usage;
};

constexpr Command kCommands[] = {
    {"detect", veyra::cli::runDetect,
     "detect FILE [--threshold T] [--model PATH] [--every SEC | --on-pause MS] [--at-end] [--json]\n"
     "               [--plot OUT.svg] [--module PATH] [--verbose]"},
    {"info", veyra::cli::runInfo, "info [--module PATH]"},
    {"features", veyra::cli::runFeatures, "features IN.f32 OUT.f32"},
};

void printUsage(std::FILE* out) {
    std::fprintf(out, "usage:\n");
    for (const Command& command : kCommands) std::fprintf(out, "  veyra %s\n", command.usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) return command.run(std::span<char* const>(argv + 2, argc - 2));
    }
    std::fprintf(stderr, "veyra: unknown command '%s'\n", argv[1]);
    printUsage(stderr);
    return 2;
}
