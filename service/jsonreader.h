#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// A small strict JSON reader for the service, which runs with system rights and
// must not pull in a framework to look at a file an ordinary user can write.
// It accepts exactly RFC 8259 text (no comments, no trailing commas, no byte
// order mark, valid UTF-8 only, no key twice in one object) within fixed size
// and depth limits.
namespace QuilletService {

struct JsonValue
{
    enum class Type { Null, Bool, Number, String, Array, Object };

    Type type = Type::Null;
    bool boolean = false;
    // The decoded UTF-8 text of a string, or the literal text of a number.
    std::string text;
    std::vector<JsonValue> items;
    // Object members in document order; a key (after its escapes are decoded)
    // appears at most once.
    std::vector<std::pair<std::string, JsonValue>> members;

    bool isObject() const { return type == Type::Object; }
    bool isArray() const { return type == Type::Array; }
    bool isString() const { return type == Type::String; }
};

struct JsonLimits
{
    std::size_t maxBytes = 4 * 1024 * 1024;
    int maxDepth = 64;
    std::size_t maxValues = 262144;
};

struct JsonParseResult
{
    bool ok = false;
    JsonValue value;
    std::string error;
    std::size_t offset = 0;
};

JsonParseResult parseJson(const std::string &text, const JsonLimits &limits = JsonLimits());

} // namespace QuilletService
