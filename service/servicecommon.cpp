#include "servicecommon.h"

#include <cstdio>

namespace QuilletService {

std::string logLinePrefix(int year, int month, int day, int hour, int minute, int second)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "[%04d-%02d-%02d %02d:%02d:%02d] ", year, month, day, hour, minute, second);
    return buffer;
}

} // namespace QuilletService
