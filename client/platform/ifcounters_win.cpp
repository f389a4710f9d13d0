// Interface counters through IP Helper. No Qt here: it is compile-checked with mingw-w64.
#include "platform/ifcounters.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <vector>

namespace Platform {

InterfaceOctets readInterfaceOctets()
{
    InterfaceOctets result;
    ULONG size = 0;
    if (GetIfTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return result;
    std::vector<unsigned char> buffer(size);
    auto *table = reinterpret_cast<MIB_IFTABLE *>(buffer.data());
    if (GetIfTable(table, &size, FALSE) != NO_ERROR || table->dwNumEntries == 0)
        return result;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IFROW &row = table->table[i];
        if (row.dwOperStatus != 5 /* operational */ || row.dwType == 24 /* software loopback */)
            continue;
        if (row.dwInOctets == 0 && row.dwOutOctets == 0)
            continue;
        result.inOctets += row.dwInOctets;
        result.outOctets += row.dwOutOctets;
    }
    result.found = result.inOctets != 0 || result.outOctets != 0;
    return result;
}

} // namespace Platform
