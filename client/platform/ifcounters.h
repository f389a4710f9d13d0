#pragma once

// Octet counters of the machine's network interfaces, summed over the ones
// that are up and are not the loopback. Windows: IP Helper's GetIfTable
// (32-bit counters). Linux: /proc/net/dev.
namespace Platform {

struct InterfaceOctets
{
    bool found = false;
    unsigned long long inOctets = 0;
    unsigned long long outOctets = 0;
};

InterfaceOctets readInterfaceOctets();

} // namespace Platform
