#pragma once

#include <QStringList>
#include <QVariantMap>

// Tolerant readers for server maps that name one value in several ways.
namespace MapHelpers {

// The value of the first key whose value, read as a map, is non-empty.
QVariantMap firstNestedMap(const QVariantMap &map, const QStringList &keys);

// The first value that is non-blank as text, trimmed; empty when none.
QString firstNonBlankValue(const QVariantMap &map, const QStringList &keys);

// Whether the map holds any of the keys with a valid value (possibly empty).
bool mapContainsAnyKey(const QVariantMap &map, const QStringList &keys);

// An integer read from a number or from the leading digits of a text.
bool leadingInteger(const QVariant &value, int *out);

// The first key whose value reads as an integer (see leadingInteger).
bool firstInteger(const QVariantMap &map, const QStringList &keys, int *out);

} // namespace MapHelpers
