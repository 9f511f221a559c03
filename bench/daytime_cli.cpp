// A minimal blocking POSIX Daytime client, the yardstick of the benchmarks:
// connects, takes the first data, cuts the time of day out of it and prints
// it; nothing else. With --every N it does so every N seconds for ever,
// sleeping in between, as a minimal resident client would.
//   tempikon_daytime_cli ADDRESS [TIMEOUT_MS] [--every SECONDS]
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/query/daytime_exchange.h"
#include "tests/support/daytime_server.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ADDRESS [TIMEOUT_MS] [--every SECONDS]\n", argv[0]);
        return 2;
    }
    int timeoutMs = 3000;
    int every = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--every") == 0 && i + 1 < argc) {
            every = std::atoi(argv[++i]);
        } else {
            timeoutMs = std::atoi(argv[i]);
        }
    }
    while (true) {
        const auto reply = tempikon::testsupport::blockingDaytimeQuery(argv[1], 13, timeoutMs);
        const std::string time = reply ? tempikon::core::CutTimeText(*reply) : std::string();
        std::printf("%s\n", time.empty() ? "no answer" : time.c_str());
        std::fflush(stdout);
        if (every <= 0) return time.empty() ? 1 : 0;
        sleep(static_cast<unsigned>(every));
    }
}
