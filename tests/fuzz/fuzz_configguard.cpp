// Feeds arbitrary bytes to the service's configuration check. Besides not
// crashing, a document it accepts must hold none of what the check exists to
// keep out: an unknown key, a listener, a control API off loopback or on a
// port below 1024, a file path that leaves the engine's working directory or
// names an environment variable, a UI folder that is not one plain name, a
// download URL for it, or a DHCP DNS server.
#include "configallowlist.h"
#include "configguard.h"
#include "jsonreader.h"

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <set>
#include <string>

using namespace QuilletService;

namespace {

const std::set<std::string> &knownKeys()
{
    static const std::set<std::string> keys = [] {
        std::set<std::string> out;
        std::size_t count = 0;
        const AllowedField *fields = allowedFields(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (fields[i].kind != FieldKind::Include)
                out.insert(fields[i].key);
        }
        return out;
    }();
    return keys;
}

[[noreturn]] void violated(const char *what, const std::string &detail)
{
    std::fprintf(stderr, "accepted a document with %s: %s\n", what, detail.c_str());
    std::abort();
}

bool isFileKey(const std::string &key)
{
    return key == "certificate_path" || key == "client_certificate_path" || key == "client_key_path"
        || key == "config_path" || key == "external_ui" || key == "key_path" || key == "private_key_path"
        || key == "state_directory" || key == "data_directory" || key == "output" || key == "cache_path";
}

void checkString(const JsonValue &value, const std::string &key)
{
    if (value.isString() && isUnsafeRelativePath(value.text))
        violated("a path outside runtime/", key);
    if (value.isString() && value.text.find_first_of("$%") != std::string::npos)
        violated("an environment variable in a file name", key);
    for (const JsonValue &item : value.items)
        checkString(item, key);
}

bool isPlainName(const std::string &text)
{
    for (const char c : text) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
            return false;
    }
    return true;
}

// The text after the last ':' as a port; -1 when there is none.
long portOf(const std::string &address)
{
    const std::size_t colon = address.rfind(':');
    if (colon == std::string::npos || colon + 1 >= address.size())
        return -1;
    char *end = nullptr;
    const long port = std::strtol(address.c_str() + colon + 1, &end, 10);
    return *end == '\0' ? port : -1;
}

// parent: the folded key that holds this object ("" at the top).
void walk(const JsonValue &value, const std::string &parent, bool inMap)
{
    for (const JsonValue &item : value.items)
        walk(item, parent, false);
    for (const auto &member : value.members) {
        const std::string key = foldJsonKey(member.first);
        if (!inMap && !knownKeys().count(key))
            violated("an unknown key", key);
        if (key == "listen" || key == "listen_port")
            violated("a listener", key);
        if (isFileKey(key) || (key == "path" && (parent == "cache_file" || parent == "rule_set")))
            checkString(member.second, key);
        if (key == "external_ui" && member.second.isString() && !isPlainName(member.second.text))
            violated("a UI folder that is not one plain name", member.second.text);
        if (key.rfind("external_ui_download", 0) == 0)
            violated("a download for the UI folder", key);
        if (key == "address" && parent == "servers" && member.second.isString()
            && foldJsonKey(member.second.text).rfind("dhcp", 0) == 0)
            violated("a DHCP DNS server", member.second.text);
        if (key == "external_controller" && member.second.isString() && !member.second.text.empty()) {
            const std::string &text = member.second.text;
            if (text.rfind("127.", 0) != 0 && text.rfind("[::1]:", 0) != 0 && text.rfind("localhost:", 0) != 0)
                violated("a control API off loopback", text);
            if (portOf(text) < 1024)
                violated("a control API on a port below 1024", text);
        }
        if (key == "inbounds") {
            for (const JsonValue &inbound : member.second.items) {
                for (const auto &field : inbound.members) {
                    if (foldJsonKey(field.first) == "type" && field.second.text != "tun")
                        violated("an inbound other than tun", field.second.text);
                }
            }
        }
        // Header and host tables have keys of the server's choosing.
        walk(member.second, key, key == "headers" || key == "predefined");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const ConfigVerdict verdict = checkEngineConfig(bytes);
    if (!verdict.accepted) {
        if (verdict.reason.empty())
            violated("no reason for a refusal", std::string());
        return 0;
    }
    const JsonParseResult parsed = parseJson(bytes);
    if (!parsed.ok)
        violated("invalid JSON", parsed.error);
    walk(parsed.value, std::string(), false);
    return 0;
}
