#pragma once

namespace Api {

// The wait before retry number `attempt` (0 for the first): `firstMs` doubled
// per attempt, never above `maxMs`, never below 0.
int retryBackoffDelayMs(int attempt, int firstMs, int maxMs);

} // namespace Api
