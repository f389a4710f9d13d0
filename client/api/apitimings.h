#pragma once

// Time limits of the API transport. The defaults are the product's values;
// tests shorten them so the suite stays fast.
struct ApiTimings
{
    int qtTimeoutMs = 15000;
    int jsonRetryDelayMs = 250;
    int curlStartWaitMs = 3000;
    int curlFinishWaitMs = 22000;
    int curlKillWaitMs = 1000;
};
