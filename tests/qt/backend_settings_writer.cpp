// Helper of the settings tests: saves keys <prefix>0 .. <prefix>N-1, one
// commit each, as a second running copy of the program would.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/qt/qt_settings_store.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const std::string prefix = argv[1];
    const int count = std::atoi(argv[2]);
    tempikon::qt::QtSettingsStore store;
    for (int i = 0; i < count; ++i) {
        const std::string key = prefix + std::to_string(i);
        store.writeText("Tempikon", "CONFIG", key, "value " + key);
        const auto result = store.commit();
        if (!result.ok) {
            std::fprintf(stderr, "%s\n", result.reason.c_str());
            return 1;
        }
    }
    return 0;
}
