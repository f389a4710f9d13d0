#pragma once

// Shared by the fuzz targets: a broken property aborts, so libFuzzer keeps
// the input as a crash; inputs are split into parts at NUL bytes.
#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

[[noreturn]] inline void violated(const char *property, const QByteArray &detail = QByteArray())
{
    std::fprintf(stderr, "property broken: %s %s\n", property, detail.constData());
    std::abort();
}

inline void require(bool holds, const char *property, const QByteArray &detail = QByteArray())
{
    if (!holds)
        violated(property, detail);
}

// The input cut at its first count - 1 NUL bytes; missing parts are empty.
inline QList<QByteArray> parts(const uint8_t *data, std::size_t size, int count)
{
    QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<QByteArray> out;
    for (int i = 0; i < count - 1; ++i) {
        const qsizetype nul = bytes.indexOf('\0');
        out.append(nul < 0 ? bytes : bytes.left(nul));
        bytes = nul < 0 ? QByteArray() : bytes.mid(nul + 1);
    }
    out.append(bytes);
    return out;
}

} // namespace Fuzz
