#pragma once

// Recorded ping outputs, one per file named "<case>__<expected ms or none>.txt",
// fed to the ping output parser. Shared by the native and the wine run.
#include "pingoutput.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace PingCases {

inline int checkDirectory(const char *directory)
{
    int cases = 0;
    int failures = 0;
    for (const auto &entry : std::filesystem::directory_iterator(std::filesystem::path(directory))) {
        const std::string name = entry.path().filename().string();
        const std::size_t mark = name.rfind("__");
        if (mark == std::string::npos || entry.path().extension() != ".txt")
            continue;
        const std::string expected = name.substr(mark + 2, name.size() - mark - 6);
        std::ifstream file(entry.path(), std::ios::binary);
        const std::string output((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        const std::optional<int> latency = PingOutput::latencyMs(output);
        const std::string got = latency ? std::to_string(*latency) : "none";
        const bool pass = got == expected;
        std::printf("%s ping %s: got %s\n", pass ? "ok" : "FAIL", name.c_str(), got.c_str());
        ++cases;
        failures += pass ? 0 : 1;
    }
    if (cases < 6) {
        std::printf("FAIL ping: only %d recorded outputs in %s\n", cases, directory);
        return 1;
    }
    return failures == 0 ? 0 : 1;
}

} // namespace PingCases
