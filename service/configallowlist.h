#pragma once

#include <cstddef>

// What the service lets the engine run with system rights: every object kind
// of an engine configuration the service accepts, with every key it may hold.
// Anything not listed is refused, so a field the engine gains in a later
// release stays refused until someone has looked at what it does.
namespace QuilletService {

enum class FieldKind {
    Value, // a string, number, boolean or null, or an array of those
    Map, // an object of any keys whose values are Values (HTTP headers, host tables)
    File, // a relative path (or array of them) that stays inside runtime/
    Controller, // "host:port" on a loopback address, or empty (no control API)
    Object, // an object of the kind named by ref
    List, // an array of objects of the kind named by ref
    Typed, // an object whose "type" picks the kind ref + "/" + type
    TypedList, // an array of such objects
    ValueOrObject, // a Value, or an object of the kind named by ref
    Include, // not a key: every key of the kind named by ref belongs here too
    Name, // one plain folder name inside runtime/ (letters, digits, "-", "_"), or empty
    DnsAddress, // a legacy DNS server address: udp/tcp/tls/https/quic/h3 URL, a bare IP, or "local"
    Choice, // a string that is one of the "|"-separated words in ref, or the literal false when ref is "false"
};

struct AllowedField
{
    const char *object;
    const char *key;
    FieldKind kind;
    const char *ref;
};

// The table, and its length.
const AllowedField *allowedFields(std::size_t &count);

// True when the table lists the object kind (a typed family's member included).
bool isKnownObjectKind(const char *object);

} // namespace QuilletService
