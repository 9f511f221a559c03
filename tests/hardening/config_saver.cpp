// Helper of the store stress test: saves whole configurations, round after
// round, as a second running copy of the program would on each OK.
//   hardening_config_saver WHO ROUNDS
// or loads the configuration as the program does at start and saves it
// back, printing what it loaded and how the save went:
//   hardening_config_saver --load-and-save
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/config.h"
#include "platform/qt/qt_settings_store.h"
#include "tests/hardening/config_sample.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--load-and-save") {
        tempikon::qt::QtSettingsStore store;
        const tempikon::core::Config config = tempikon::core::LoadConfig(store);
        std::printf("server=%s timeout=%d interval=%d\n", config.primary().host.c_str(),
                    config.timeout, config.interval);
        std::fflush(stdout);
        const auto result = tempikon::core::SaveConfig(store, config);
        std::printf("saved=%d reason=%s\n", result.ok ? 1 : 0, result.reason.c_str());
        return 0;
    }
    if (argc != 3) return 2;
    const std::string who = argv[1];
    const int rounds = std::atoi(argv[2]);
    for (int i = 0; i < rounds; ++i) {
        tempikon::qt::QtSettingsStore store;
        const auto result =
            tempikon::core::SaveConfig(store, tempikon::hardening::SampleConfig(who, i));
        if (!result.ok) {
            std::fprintf(stderr, "%s\n", result.reason.c_str());
            return 1;
        }
    }
    return 0;
}
