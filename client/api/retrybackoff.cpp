#include "retrybackoff.h"

#include <algorithm>

namespace Api {

int retryBackoffDelayMs(int attempt, int firstMs, int maxMs)
{
    if (firstMs <= 0 || maxMs <= 0)
        return 0;
    long long delay = firstMs;
    for (int i = 0; i < attempt && delay < maxMs; ++i)
        delay *= 2;
    return int(std::min<long long>(delay, maxMs));
}

} // namespace Api
