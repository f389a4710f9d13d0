#include "configguard.h"

#include "jsonreader.h"

#include <cstdint>

namespace QuilletService {

namespace {

const char *const kFileKeys[] = {
    "path", "output", "external_ui", "executable_path", "data_directory", "cache_path", "certificate_path", "key_path"};

// Types whose "path" member is an HTTP request path, not a file.
const char *const kHttpPathTypes[] = {"https", "h3", "http"};

bool keyIs(const std::string &key, const char *name)
{
    return foldJsonKey(key) == name;
}

bool isFileKey(const std::string &foldedKey)
{
    for (const char *key : kFileKeys) {
        if (foldedKey == key)
            return true;
    }
    return false;
}

// The object's "type" member when it is a string (the last one wins, as in the engine).
std::string typeOf(const JsonValue &object)
{
    std::string type;
    for (const auto &member : object.members) {
        if (keyIs(member.first, "type") && member.second.isString())
            type = member.second.text;
    }
    return type;
}

bool hasHttpPathType(const JsonValue &object)
{
    const std::string type = typeOf(object);
    for (const char *name : kHttpPathTypes) {
        if (type == name)
            return true;
    }
    return false;
}

std::string printable(const std::string &value)
{
    std::string out;
    for (const char c : value.substr(0, 200)) {
        const unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return out;
}

class Walker
{
public:
    std::string reason;

    void walk(const JsonValue &value, const std::string &where, bool insideTransport)
    {
        if (!reason.empty())
            return;
        if (value.isArray()) {
            for (std::size_t i = 0; i < value.items.size(); ++i)
                walk(value.items[i], where + "[" + std::to_string(i) + "]", insideTransport);
            return;
        }
        if (!value.isObject())
            return;
        const bool httpPaths = insideTransport || hasHttpPathType(value);
        for (const auto &member : value.members) {
            const std::string folded = foldJsonKey(member.first);
            const std::string at = where.empty() ? member.first : where + "." + member.first;
            if (isFileKey(folded) && !(folded == "path" && httpPaths))
                checkFileValue(member.second, at);
            walk(member.second, at, folded == "transport");
            if (!reason.empty())
                return;
        }
    }

private:
    void checkFileValue(const JsonValue &value, const std::string &at)
    {
        if (!reason.empty())
            return;
        if (value.isString()) {
            if (isUnsafeRelativePath(value.text))
                reason = at + " names \"" + printable(value.text) + "\", a file outside the engine's working directory";
            return;
        }
        if (value.isArray()) {
            for (std::size_t i = 0; i < value.items.size(); ++i)
                checkFileValue(value.items[i], at + "[" + std::to_string(i) + "]");
        }
    }
};

std::string refusedFeature(const JsonValue &document)
{
    for (const auto &top : document.members) {
        const std::string key = foldJsonKey(top.first);
        if (key == "log" && top.second.isObject()) {
            for (const auto &member : top.second.members) {
                if (keyIs(member.first, "output"))
                    return "log.output is set; the engine must not write its log to a file of the config's choosing";
            }
        } else if (key == "experimental" && top.second.isObject()) {
            for (const auto &member : top.second.members) {
                if (keyIs(member.first, "debug"))
                    return "experimental.debug is set; the engine must not open its debug listener";
            }
        } else if (key == "outbounds" && top.second.isArray()) {
            for (std::size_t i = 0; i < top.second.items.size(); ++i) {
                // Every "type" member counts, not only the last of repeated keys.
                for (const auto &member : top.second.items[i].members) {
                    if (keyIs(member.first, "type") && member.second.isString()
                        && foldJsonKey(member.second.text) == "tor")
                        return "outbounds[" + std::to_string(i)
                            + "] is a tor outbound, which starts an outside program";
                }
            }
        }
    }
    return std::string();
}

} // namespace

std::string foldJsonKey(const std::string &key)
{
    std::string out;
    out.reserve(key.size());
    for (std::size_t i = 0; i < key.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(key[i]);
        if (c >= 'A' && c <= 'Z') {
            out += static_cast<char>(c - 'A' + 'a');
        } else if (c == 0xC5 && i + 1 < key.size() && static_cast<unsigned char>(key[i + 1]) == 0xBF) {
            out += 's'; // U+017F LATIN SMALL LETTER LONG S
            ++i;
        } else if (c == 0xE2 && i + 2 < key.size() && static_cast<unsigned char>(key[i + 1]) == 0x84
            && static_cast<unsigned char>(key[i + 2]) == 0xAA) {
            out += 'k'; // U+212A KELVIN SIGN
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool isUnsafeRelativePath(const std::string &value)
{
    if (value.empty())
        return false;
    if (value[0] == '/' || value[0] == '\\')
        return true;
    const unsigned char first = static_cast<unsigned char>(value[0]);
    const bool letter = (first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z');
    if (value.size() >= 2 && letter && value[1] == ':')
        return true;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = value.size();
        if (value.compare(start, end - start, "..") == 0)
            return true;
        start = end + 1;
    }
    return false;
}

ConfigVerdict checkEngineConfig(const std::string &bytes)
{
    ConfigVerdict verdict;
    const JsonParseResult parsed = parseJson(bytes);
    if (!parsed.ok) {
        verdict.reason
            = "the config is not valid JSON (" + parsed.error + " at byte " + std::to_string(parsed.offset) + ")";
        return verdict;
    }
    if (!parsed.value.isObject()) {
        verdict.reason = "the config is not a JSON object";
        return verdict;
    }
    verdict.reason = refusedFeature(parsed.value);
    if (verdict.reason.empty()) {
        Walker walker;
        walker.walk(parsed.value, std::string(), false);
        verdict.reason = walker.reason;
    }
    verdict.accepted = verdict.reason.empty();
    return verdict;
}

} // namespace QuilletService
