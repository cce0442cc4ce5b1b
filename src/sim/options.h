#pragma once

// Command line of velmars-sim.

#include <string>

#include "sim/server.h"

namespace sim {

struct CommandLine {
    ServerOptions options;
    std::string link;        // --link PATH, empty when not given
    bool logWrites = false;  // --log-writes: one line on stdout per register written
    bool help = false;
};

// Parses argv (argv[0] is the program). On a bad option returns false with one line in
// *message. Options take their value as the next argument or after '='.
bool parseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* message);

std::string usageText();

}  // namespace sim
