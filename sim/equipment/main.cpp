// Simulated audio equipment on pseudo-terminals, for the updater's tests
// under Wine. See README.md for the command line and the files it uses.
#include "Options.h"
#include "Simulator.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    // Wine starts us with whatever descriptors its process had open; holding
    // them (the wineserver socket, the tool's own files) would keep them alive.
    // Standard input and output are not used; stderr carries start-up errors.
    ::close_range(3, ~0U, 0);
    if (int null = ::open("/dev/null", O_RDWR); null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
        if (null > STDERR_FILENO)
            ::close(null);
    }

    simeq::Options options;
    if (auto error = simeq::parseOptions(argc, argv, options)) {
        std::fprintf(stderr, "orvane-sim-equipment: %s\n%s\n", error->c_str(), simeq::usage());
        return 2;
    }

    struct sigaction action {};
    action.sa_handler = simeq::Simulator::requestStop;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        sigaction(s, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    return simeq::Simulator(options).run();
}
