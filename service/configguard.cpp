#include "configguard.h"

#include "configallowlist.h"
#include "jsonreader.h"

#include <map>
#include <set>
#include <vector>

namespace QuilletService {

namespace {

bool keyIs(const std::string &key, const char *name)
{
    return foldJsonKey(key) == name;
}

// Keys as they go into service.log: printable, and not too long.
std::string printable(const std::string &value)
{
    std::string out;
    for (const char c : value.substr(0, 80)) {
        const unsigned char u = static_cast<unsigned char>(c);
        out += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return out;
}

// Every key an object kind allows, its includes expanded, indexed by kind.
class AllowList
{
public:
    AllowList()
    {
        std::size_t count = 0;
        const AllowedField *fields = allowedFields(count);
        for (std::size_t i = 0; i < count; ++i)
            m_rows[fields[i].object].push_back(&fields[i]);
        for (const auto &kind : m_rows)
            expand(kind.first, m_kinds[kind.first], 0);
    }

    bool knows(const std::string &kind) const { return m_kinds.count(kind) != 0; }

    // The field a (folded) key names in the kind, or null when it is not allowed.
    const AllowedField *field(const std::string &kind, const std::string &foldedKey) const
    {
        const auto found = m_kinds.find(kind);
        if (found == m_kinds.end())
            return nullptr;
        const auto key = found->second.find(foldedKey);
        return key == found->second.end() ? nullptr : key->second;
    }

private:
    void expand(const std::string &kind, std::map<std::string, const AllowedField *> &into, int depth)
    {
        const auto rows = m_rows.find(kind);
        if (rows == m_rows.end() || depth > 8)
            return;
        for (const AllowedField *row : rows->second) {
            if (row->kind == FieldKind::Include)
                expand(row->ref, into, depth + 1);
            else
                into[row->key] = row;
        }
    }

    std::map<std::string, std::vector<const AllowedField *>> m_rows;
    std::map<std::string, std::map<std::string, const AllowedField *>> m_kinds;
};

const AllowList &allowList()
{
    static const AllowList instance;
    return instance;
}

bool isScalar(const JsonValue &value)
{
    return !value.isArray() && !value.isObject();
}

bool isValue(const JsonValue &value)
{
    if (!value.isArray())
        return isScalar(value);
    for (const JsonValue &item : value.items) {
        if (!isScalar(item))
            return false;
    }
    return true;
}

bool isDigits(const std::string &text)
{
    if (text.empty() || text.size() > 5)
        return false;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isLoopbackHost(const std::string &host)
{
    if (host == "localhost" || host == "::1")
        return true;
    // 127.0.0.0/8 in dotted-quad form, nothing else.
    if (host.compare(0, 4, "127.") != 0)
        return false;
    int parts = 0;
    std::size_t start = 0;
    while (start <= host.size()) {
        std::size_t end = host.find('.', start);
        if (end == std::string::npos)
            end = host.size();
        const std::string part = host.substr(start, end - start);
        if (!isDigits(part) || part.size() > 3 || std::stoi(part) > 255)
            return false;
        ++parts;
        start = end + 1;
    }
    return parts == 4;
}

// Folder names the engine joins under runtime/ as they are.
bool isPlainName(const std::string &text)
{
    if (text.empty() || text.size() > 64)
        return false;
    for (const char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-'
            || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool isIpLiteral(const std::string &text)
{
    if (text.empty())
        return false;
    bool digit = false;
    bool colon = false;
    int dots = 0;
    for (const char c : text) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == ':')
            colon = true;
        else if (c == '.')
            ++dots;
        else if (!((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    if (colon)
        return true; // IPv6, possibly with an embedded IPv4 tail
    if (!digit || dots != 3)
        return false;
    for (const char c : text) {
        if (!(c >= '0' && c <= '9') && c != '.')
            return false;
    }
    return true;
}

// The schemes of the legacy server form that only send queries out; "dhcp",
// "rcode", "fakeip" and whatever the engine adds later stay out.
bool isAllowedDnsAddress(const std::string &text)
{
    if (text == "local" || isIpLiteral(text))
        return true;
    const std::size_t scheme = text.find("://");
    if (scheme == std::string::npos || scheme + 3 >= text.size())
        return false;
    const std::string name = foldJsonKey(text.substr(0, scheme));
    return name == "udp" || name == "tcp" || name == "tls" || name == "https" || name == "quic" || name == "h3";
}

// The engine expands "$NAME" and "${NAME}" in some file fields; Windows tools
// expand "%NAME%". Either turns a relative name into any path.
bool namesEnvironmentVariable(const std::string &text)
{
    return text.find('$') != std::string::npos || text.find('%') != std::string::npos;
}

// The object's "type": the last string member of that name, as in the engine.
// False when a "type" member is not a string.
bool typeOf(const JsonValue &object, std::string &type)
{
    type.clear();
    for (const auto &member : object.members) {
        if (!keyIs(member.first, "type"))
            continue;
        if (!member.second.isString() && member.second.type != JsonValue::Type::Null)
            return false;
        type = member.second.text;
    }
    return true;
}

// A key of the object that folds to the same name as an earlier one ("Type"
// after "type"), or null. The engine reads both as one field and keeps the
// last; a reader that compares exactly sees two.
const std::string *foldedRepeat(const JsonValue &object)
{
    std::set<std::string> seen;
    for (const auto &member : object.members) {
        if (!seen.insert(foldJsonKey(member.first)).second)
            return &member.first;
    }
    return nullptr;
}

class Walker
{
public:
    std::string reason;

    void walkObject(const JsonValue &value, const std::string &kind, const std::string &where)
    {
        if (!reason.empty())
            return;
        if (value.type == JsonValue::Type::Null)
            return;
        if (!value.isObject()) {
            refuse(where, "is not an object");
            return;
        }
        if (refuseFoldedRepeat(value, where))
            return;
        for (const auto &member : value.members) {
            const std::string at = where.empty() ? printable(member.first) : where + "." + printable(member.first);
            const AllowedField *field = allowList().field(kind, foldJsonKey(member.first));
            if (!field) {
                refuse(at, "is not a field the service lets the engine use");
                return;
            }
            walkField(*field, member.second, at);
            if (!reason.empty())
                return;
        }
        if (kind == "clash-api")
            checkControlApi(value, where);
    }

private:
    void refuse(const std::string &at, const std::string &why)
    {
        if (reason.empty())
            reason = at + " " + why;
    }

    bool refuseFoldedRepeat(const JsonValue &object, const std::string &where)
    {
        const std::string *key = foldedRepeat(object);
        if (key)
            refuse(where.empty() ? printable(*key) : where + "." + printable(*key),
                   "repeats a key that differs only in case; the engine would read just one of them");
        return key != nullptr;
    }

    void walkTyped(const JsonValue &value, const std::string &family, const std::string &at)
    {
        if (value.type == JsonValue::Type::Null)
            return;
        if (!value.isObject()) {
            refuse(at, "is not an object");
            return;
        }
        if (refuseFoldedRepeat(value, at))
            return;
        std::string type;
        if (!typeOf(value, type)) {
            refuse(at + ".type", "is not a string");
            return;
        }
        const std::string kind = family + "/" + type;
        if (!allowList().knows(kind)) {
            refuse(at + ".type", "names a type the service does not let the engine run");
            return;
        }
        walkObject(value, kind, at);
    }

    void walkField(const AllowedField &field, const JsonValue &value, const std::string &at)
    {
        switch (field.kind) {
        case FieldKind::Value:
            if (!isValue(value))
                refuse(at, "must be a plain value");
            return;
        case FieldKind::Map:
            if (value.type == JsonValue::Type::Null)
                return;
            if (!value.isObject()) {
                refuse(at, "is not an object");
                return;
            }
            for (const auto &member : value.members) {
                if (!isValue(member.second)) {
                    refuse(at + "." + printable(member.first), "must be a plain value");
                    return;
                }
            }
            return;
        case FieldKind::File:
            checkFile(value, at);
            return;
        case FieldKind::Controller:
            checkController(value, at);
            return;
        case FieldKind::Object:
            walkObject(value, field.ref, at);
            return;
        case FieldKind::ValueOrObject:
            if (!isValue(value))
                walkObject(value, field.ref, at);
            return;
        case FieldKind::Typed:
            walkTyped(value, field.ref, at);
            return;
        case FieldKind::List:
        case FieldKind::TypedList:
            if (value.type == JsonValue::Type::Null)
                return;
            if (!value.isArray()) {
                refuse(at, "is not an array");
                return;
            }
            for (std::size_t i = 0; i < value.items.size() && reason.empty(); ++i) {
                const std::string item = at + "[" + std::to_string(i) + "]";
                if (field.kind == FieldKind::List)
                    walkObject(value.items[i], field.ref, item);
                else
                    walkTyped(value.items[i], field.ref, item);
            }
            return;
        case FieldKind::Include:
            return;
        case FieldKind::Name:
            checkName(value, at);
            return;
        case FieldKind::DnsAddress:
            if (value.type != JsonValue::Type::Null && (!value.isString() || !isAllowedDnsAddress(value.text)))
                refuse(at,
                    "is not a DNS server address the service lets the engine use "
                    "(udp, tcp, tls, https, quic or h3, an IP address, or local)");
            return;
        case FieldKind::Choice:
            checkChoice(value, field.ref, at);
            return;
        }
    }

    void checkName(const JsonValue &value, const std::string &at)
    {
        if (value.type == JsonValue::Type::Null || (value.isString() && value.text.empty()))
            return;
        if (!value.isString() || !isPlainName(value.text))
            refuse(at,
                "must be one plain folder name (letters, digits, '-' or '_'); the engine serves that folder "
                "to every local user");
    }

    void checkChoice(const JsonValue &value, const char *words, const std::string &at)
    {
        if (value.type == JsonValue::Type::Null)
            return;
        const std::string list = words ? words : "";
        if (list == "false") {
            if (value.type != JsonValue::Type::Bool || value.boolean)
                refuse(at, "must be false; the service does not let the engine change the machine");
            return;
        }
        bool known = false;
        if (value.isString()) {
            std::size_t start = 0;
            while (start <= list.size() && !known) {
                std::size_t end = list.find('|', start);
                if (end == std::string::npos)
                    end = list.size();
                known = list.compare(start, end - start, value.text) == 0;
                start = end + 1;
            }
        }
        if (!known)
            refuse(at, "is not one of the values the service lets the engine use");
    }

    // Relative paths only, and never above the working directory. The value
    // is not logged: the reason names the field alone.
    void checkFile(const JsonValue &value, const std::string &at)
    {
        if (value.isArray()) {
            for (std::size_t i = 0; i < value.items.size() && reason.empty(); ++i) {
                if (value.items[i].isArray())
                    refuse(at + "[" + std::to_string(i) + "]", "must be a file name");
                else
                    checkFile(value.items[i], at + "[" + std::to_string(i) + "]");
            }
            return;
        }
        if (value.isObject()) {
            refuse(at, "must be a file name");
            return;
        }
        if (value.isString() && isUnsafeRelativePath(value.text))
            refuse(at, "names a file outside the engine's working directory");
        else if (value.isString() && namesEnvironmentVariable(value.text))
            refuse(at, "names a file through an environment variable, which the engine expands to any path");
    }

    void checkController(const JsonValue &value, const std::string &at)
    {
        if (value.type == JsonValue::Type::Null || (value.isString() && value.text.empty()))
            return;
        if (!value.isString()) {
            refuse(at, "must be a loopback address and port");
            return;
        }
        const std::string &text = value.text;
        std::string host;
        std::string port;
        if (!text.empty() && text[0] == '[') {
            const std::size_t close = text.find(']');
            if (close != std::string::npos && close + 1 < text.size() && text[close + 1] == ':') {
                host = text.substr(1, close - 1);
                port = text.substr(close + 2);
            }
        } else {
            const std::size_t colon = text.rfind(':');
            if (colon != std::string::npos && text.find(':') == colon) {
                host = text.substr(0, colon);
                port = text.substr(colon + 1);
            }
        }
        if (!isLoopbackHost(host) || !isDigits(port) || std::stoi(port) < 1 || std::stoi(port) > 65535)
            refuse(at, "is not a loopback address and port; the control API must not be reachable from the network");
        else if (std::stoi(port) < 1024)
            refuse(at, "uses a port below 1024; the control API must not take a system service's port");
    }

    // A control API on loopback still takes orders from every local user
    // unless it has a secret.
    void checkControlApi(const JsonValue &object, const std::string &where)
    {
        std::string controller;
        std::string secret;
        for (const auto &member : object.members) {
            const std::string key = foldJsonKey(member.first);
            if (key == "external_controller")
                controller = member.second.text;
            else if (key == "secret")
                secret = member.second.isString() ? member.second.text : std::string();
        }
        if (!controller.empty() && secret.empty())
            refuse(where + ".secret", "is empty; the control API would take orders from anyone on the machine");
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
        walker.walkObject(parsed.value, "root", std::string());
        verdict.reason = walker.reason;
    }
    verdict.accepted = verdict.reason.empty();
    return verdict;
}

} // namespace QuilletService
