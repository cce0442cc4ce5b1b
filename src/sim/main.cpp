// velmars-sim: serves the simulated controller on a new pseudo-terminal, or on 127.0.0.1 as a
// gateway, until SIGINT or SIGTERM. Prints the pty's path (or the gateway's URL) on stdout; --link
// also makes a symbolic link to the pty.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "sim/options.h"
#include "sim/server.h"

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

    // Block the stop signals in every thread; the main thread waits for them below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    if (cmd.logWrites)
        cmd.options.writeLog = [](const std::string& line) { std::cout << line << std::endl; };
    sim::SimServer server(cmd.options);
    std::string error;
    if (!server.start(&error)) {
        std::cerr << "velmars-sim: cannot start: " << error << "\n";
        return 1;
    }
    const std::string path = server.device();
    if (!cmd.link.empty()) {
        struct stat st {};
        if (lstat(cmd.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::cerr << "velmars-sim: " << cmd.link << " exists and is not a symbolic link\n";
                return 1;
            }
            ::unlink(cmd.link.c_str());
        }
        if (::symlink(path.c_str(), cmd.link.c_str()) != 0) {
            std::cerr << "velmars-sim: cannot link " << cmd.link << ": " << std::strerror(errno)
                      << "\n";
            return 1;
        }
    }
    std::cout << path << std::endl;

    int sig = 0;
    sigwait(&stopSignals, &sig);
    server.stop();
    if (!cmd.link.empty()) {
        // Remove the link only if it still points at our pty.
        char target[512] = {};
        const ssize_t n = ::readlink(cmd.link.c_str(), target, sizeof target - 1);
        if (n > 0 && path == std::string(target, size_t(n))) ::unlink(cmd.link.c_str());
    }
    return 0;
}
