// velmars-sim: serves the simulated controller on a new pseudo-terminal, or on 127.0.0.1 as a
// gateway (always so where the system has no pseudo-terminals), until SIGINT or SIGTERM (Ctrl+C).
// Prints the pty's path (or the gateway's URL) on stdout; --link also makes a symbolic link to the
// pty.

#include <iostream>
#include <string>

#include "sim/options.h"
#include "sim/server.h"
#include "sim/serveros.h"

int main(int argc, char** argv) {
    sim::CommandLine cmd;
    std::string message;
    if (!sim::parseCommandLine(argc, argv, &cmd, &message)) {
        std::cerr << "velmars-sim: " << message << "\n";
        return 2;
    }
    if (cmd.help) {
        std::cout << sim::usageText();
        return 0;
    }

    sim::os::holdStopRequests();

    if (cmd.logWrites)
        cmd.options.writeLog = [](const std::string& line) { std::cout << line << std::endl; };
    sim::SimServer server(cmd.options);
    std::string error;
    if (!server.start(&error)) {
        std::cerr << "velmars-sim: cannot start: " << error << "\n";
        return 1;
    }
    const std::string path = server.device();
    if (!cmd.link.empty() && !sim::os::makeLink(path, cmd.link, &error)) {
        std::cerr << "velmars-sim: " << error << "\n";
        return 1;
    }
    std::cout << path << std::endl;

    sim::os::waitForStopRequest();
    server.stop();
    if (!cmd.link.empty()) sim::os::removeLink(path, cmd.link);
    return 0;
}
