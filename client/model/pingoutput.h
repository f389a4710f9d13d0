#pragma once

#include <optional>
#include <string>

// Reading the round-trip time out of ping's output, whatever the system's
// language. Free of Qt: it also runs in the Windows checks built with mingw-w64.
namespace PingOutput {

// The output as the program wrote it: UTF-8, or the console code page of a
// Windows machine (GBK for Chinese, 866 or 1251 for Russian); the parts that
// matter are ASCII or one of the known spellings of the unit.
//
// The first number after "=" or "<" that is followed by a millisecond unit
// ("time=23ms", "时间=23ms", "Zeit<1ms", "время=23мс", "time=23.4 ms"); else the
// middle number of a "= min/avg/max" summary. Rounded half away from zero and
// at least 1; nothing when neither is present, or when the time is beyond
// kMaxLatencyMs (no reply takes that long: such a figure is not a measurement).
// Every copy of a host holding "=" or "<" is skipped, so the name ping repeats
// in its header or its error line never reads as a time.
constexpr int kMaxLatencyMs = 60000;
std::optional<int> latencyMs(const std::string &output, const std::string &host = std::string());

} // namespace PingOutput
