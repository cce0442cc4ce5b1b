#include "sim/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace sim {

namespace {

bool toInt(const std::string& s, long min, long max, long* out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *out = v;
    return true;
}

bool toDouble(const std::string& s, double min, double max, double* out) {
    if (s.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < min || v > max) return false;
    *out = v;
    return true;
}

// A comma-separated list of slave addresses 1..247, none twice.
bool toAddresses(const std::string& s, std::vector<int>* out) {
    std::vector<int> list;
    size_t from = 0;
    for (;;) {
        const size_t comma = s.find(',', from);
        long n = 0;
        if (!toInt(s.substr(from, comma - from), 1, 247, &n)) return false;
        if (std::find(list.begin(), list.end(), int(n)) != list.end()) return false;
        list.push_back(int(n));
        if (comma == std::string::npos) break;
        from = comma + 1;
    }
    *out = list;
    return true;
}

}  // namespace

std::string usageText() {
    return "usage: velmars-sim [--address A[,A...]] [--silent-address A[,A...]] [--baud B]\n"
           "                   [--parity N|E|O] [--wire-timing] [--delay-ms MS]\n"
           "                   [--drop-rate P] [--corrupt-rate P] [--time-scale F]\n"
           "                   [--link PATH] [--log-writes]\n"
           "                   [--tcp PORT | --rtu-tcp PORT] [--help]\n"
           "Serves the simulated controller as a Modbus RTU slave on a new pseudo-terminal,\n"
           "prints its path and runs until interrupted. With --tcp or --rtu-tcp it stands for\n"
           "a gateway on 127.0.0.1 instead and prints the port as velmars takes it\n"
           "(tcp://127.0.0.1:PORT or rtu+tcp://127.0.0.1:PORT). With several addresses, each is\n"
           "an instrument of its own on the one line, as on an RS-485 bus.\n"
           "  --address A       slave address 1..247 (default 1), or several, comma-separated\n"
           "  --silent-address A  served addresses that never answer (comma-separated)\n"
           "  --baud B          baud rate for --wire-timing (default 9600)\n"
           "  --parity N|E|O    parity for --wire-timing (default N)\n"
           "  --wire-timing     send each answer only after a real line would have carried it\n"
           "  --delay-ms MS     extra delay before each answer\n"
           "  --drop-rate P     probability 0..1 that an answer is not sent\n"
           "  --corrupt-rate P  probability 0..1 that an answer has a bad CRC\n"
           "  --time-scale F    simulated seconds per real second (default 1)\n"
           "  --link PATH       also make PATH a symbolic link to the pseudo-terminal\n"
           "  --log-writes      print one line per register written: time, 4X N, value\n"
           "                    (time, address A, 4X N, value with several addresses)\n"
           "  --tcp PORT        serve Modbus TCP on 127.0.0.1:PORT (0: a free port); the unit\n"
           "                    id is the slave address\n"
           "  --rtu-tcp PORT    serve RTU frames through TCP on 127.0.0.1:PORT (0: a free port),\n"
           "                    as a serial device server passes them\n";
}

bool parseCommandLine(int argc, const char* const* argv, CommandLine* out, std::string* message) {
    CommandLine cmd;
    cmd.options.demoStart = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool hasValue = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            hasValue = true;
        }
        auto flag = [&]() {
            if (hasValue) *message = "option " + arg + " takes no value";
            return !hasValue;
        };
        auto take = [&]() {
            if (hasValue) return true;
            if (i + 1 >= argc) {
                *message = "option " + arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto bad = [&](const char* what) {
            *message = "bad value '" + value + "' for " + arg + " (" + what + ")";
            return false;
        };
        long n = 0;
        double d = 0;
        if (arg == "--help" || arg == "-h") {
            if (!flag()) return false;
            cmd.help = true;
        } else if (arg == "--wire-timing") {
            if (!flag()) return false;
            cmd.options.wireTiming = true;
        } else if (arg == "--log-writes") {
            if (!flag()) return false;
            cmd.logWrites = true;
        } else if (arg == "--address" || arg == "--silent-address") {
            if (!take()) return false;
            std::vector<int> list;
            if (!toAddresses(value, &list))
                return bad("expected 1..247, comma-separated, each once");
            if (arg == "--silent-address") {
                cmd.options.silentAddresses = list;
            } else {
                cmd.options.address = list.front();
                cmd.options.addresses.clear();
                if (list.size() > 1) cmd.options.addresses = list;
            }
        } else if (arg == "--baud") {
            if (!take()) return false;
            if (!toInt(value, 1, 4000000, &n)) return bad("expected a positive baud rate");
            cmd.options.baud = int(n);
        } else if (arg == "--parity") {
            if (!take()) return false;
            if (value != "N" && value != "E" && value != "O") return bad("expected N, E or O");
            cmd.options.parity = value[0];
        } else if (arg == "--delay-ms") {
            if (!take()) return false;
            if (!toInt(value, 0, 600000, &n)) return bad("expected 0..600000");
            cmd.options.delayMs = int(n);
        } else if (arg == "--drop-rate" || arg == "--corrupt-rate") {
            if (!take()) return false;
            if (!toDouble(value, 0.0, 1.0, &d)) return bad("expected 0..1");
            (arg == "--drop-rate" ? cmd.options.dropRate : cmd.options.corruptRate) = d;
        } else if (arg == "--time-scale") {
            if (!take()) return false;
            if (!toDouble(value, 1e-6, 1e6, &d)) return bad("expected a positive factor");
            cmd.options.timeScale = d;
        } else if (arg == "--tcp" || arg == "--rtu-tcp") {
            if (!take()) return false;
            if (!toInt(value, 0, 65535, &n)) return bad("expected a TCP port 0..65535");
            if (cmd.options.transport != Transport::Pty) {
                *message = "give only one of --tcp and --rtu-tcp";
                return false;
            }
            cmd.options.transport = arg == "--tcp" ? Transport::ModbusTcp : Transport::RtuOverTcp;
            cmd.options.tcpPort = int(n);
        } else if (arg == "--link") {
            if (!take()) return false;
            if (value.empty()) return bad("expected a path");
            cmd.link = value;
        } else {
            *message = "unknown option '" + std::string(argv[i]) + "' (see --help)";
            return false;
        }
    }
    for (int a : cmd.options.silentAddresses) {
        const std::vector<int> served = cmd.options.served();
        if (std::find(served.begin(), served.end(), a) == served.end()) {
            *message = "--silent-address " + std::to_string(a) + " is not among --address";
            return false;
        }
    }
    if (!cmd.link.empty() && cmd.options.transport != Transport::Pty) {
        *message = "--link names a pseudo-terminal; --tcp and --rtu-tcp have none";
        return false;
    }
    *out = cmd;
    return true;
}

}  // namespace sim
