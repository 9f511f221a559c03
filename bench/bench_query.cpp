// Real Daytime queries on loopback (servers on 127.0.0.48 and 127.0.0.49):
//  1. round-trip time of ServerQuery::ask against a minimal blocking POSIX
//     client on the same server;
//  2. CPU time the process uses while one query waits a whole 3-second
//     time-out on a silent server (a spinning wait would use about 3 s).
// Prints figures; asserts nothing.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/query/server_query.h"
#include "platform/qt/qt_start.h"
#include "tests/support/ask.h"
#include "tests/support/daytime_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double microseconds(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

struct Figures {
    double mean = 0, median = 0, p95 = 0;
};

Figures summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    Figures f;
    f.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / samples.size();
    f.median = samples[samples.size() / 2];
    f.p95 = samples[samples.size() * 95 / 100];
    return f;
}

double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tempikon;
    int queries = 200;
    if (argc > 1) queries = std::max(10, std::atoi(argv[1]));

    int qtArgc = 1;
    qt::QtStart start = qt::createPlatform(qtArgc, argv);
    platform::Platform& p = *start.platform;

    core::Config config;
    config.timeout = 3;
    core::ServerQuery query(p);

    const std::string replyHost = "127.0.0.48";
    const std::string silentHost = "127.0.0.49";
    auto server = testsupport::DaytimeServer::replying(replyHost, "Mon Dec  7 14:03:27 2026\r\n");

    // Warm-up of both clients.
    for (int i = 0; i < 10; ++i) {
        testsupport::AskDaytime(query, replyHost, config.timeout);
        testsupport::blockingDaytimeQuery(replyHost, 13, 3000);
    }

    std::vector<double> qtTimes, posixTimes;
    int qtFailures = 0, posixFailures = 0;
    for (int i = 0; i < queries; ++i) {
        auto t0 = Clock::now();
        const std::string text = testsupport::AskDaytime(query, replyHost, config.timeout);
        qtTimes.push_back(microseconds(Clock::now() - t0));
        if (text != "14:03:27") ++qtFailures;

        t0 = Clock::now();
        const auto reply = testsupport::blockingDaytimeQuery(replyHost, 13, 3000);
        posixTimes.push_back(microseconds(Clock::now() - t0));
        if (!reply || reply->find("14:03:27") == std::string::npos) ++posixFailures;
    }
    const Figures qtF = summarise(qtTimes);
    const Figures posixF = summarise(posixTimes);
    std::printf("Round trip over %d queries on loopback (microseconds)\n", queries);
    std::printf("  ServerQuery::ask (Qt): mean %8.1f  median %8.1f  p95 %8.1f  failures %d\n",
                qtF.mean, qtF.median, qtF.p95, qtFailures);
    std::printf("  blocking POSIX client:  mean %8.1f  median %8.1f  p95 %8.1f  failures %d\n",
                posixF.mean, posixF.median, posixF.p95, posixFailures);
    std::printf("  ratio Qt/POSIX:         mean %.2f  median %.2f\n", qtF.mean / posixF.mean,
                qtF.median / posixF.median);

    auto silent = testsupport::DaytimeServer::inMode(silentHost, testsupport::ServerMode::Silent);
    config.timeout = 3;
    const double threadBefore = cpuSeconds(RUSAGE_THREAD);
    const double processBefore = cpuSeconds(RUSAGE_SELF);
    const auto t0 = Clock::now();
    const std::string text = testsupport::AskDaytime(query, silentHost, config.timeout);
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double threadCpu = cpuSeconds(RUSAGE_THREAD) - threadBefore;
    const double processCpu = cpuSeconds(RUSAGE_SELF) - processBefore;
    std::printf("Waiting out a %d s time-out on a silent server (result \"%s\")\n", config.timeout,
                text.c_str());
    std::printf(
        "  wall %.3f s; CPU of the waiting thread %.4f s (%.2f %% of the wait); "
        "whole process incl. test server %.4f s (%.2f %%)\n",
        wall, threadCpu, 100.0 * threadCpu / wall, processCpu, 100.0 * processCpu / wall);
    return 0;
}
