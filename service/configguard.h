#pragma once

#include <string>

// The service runs the engine with system rights on a file that an ordinary
// user can write, and several engine fields act on the machine: they open,
// create or delete files at any path, start programs or open listeners. Before
// the engine runs, the configuration must keep every file it names inside the
// engine's working directory and must not use those features at all.
//
// Refused:
// - a document that is not strict JSON, or whose top level is not an object;
// - "log"."output" (present at all) and "experimental"."debug" (present at all);
// - any outbound of type "tor" (in any letter case);
// - a string value (or a string inside an array value) of the keys "path",
//   "output", "external_ui", "executable_path", "data_directory", "cache_path",
//   "certificate_path", "key_path" anywhere in the document that is absolute
//   (starts with "/" or "\", or with a drive letter and ":") or has ".." as a
//   component. A "path" that is an HTTP request path is not a file: it is
//   skipped inside a "transport" object and in objects of type "https", "h3"
//   and "http" (DNS-over-HTTPS servers, HTTP proxy outbounds).
//
// Keys are compared the way the engine's decoder matches them: case-insensitive,
// with the Unicode characters that fold to ASCII letters ("ſ", Kelvin sign).
namespace QuilletService {

struct ConfigVerdict
{
    bool accepted = false;
    // One English sentence naming the first reason for refusal.
    std::string reason;
};

ConfigVerdict checkEngineConfig(const std::string &bytes);

// True when the value names a file outside the working directory.
bool isUnsafeRelativePath(const std::string &value);

// The key folded for comparison with lower-case ASCII names.
std::string foldJsonKey(const std::string &key);

} // namespace QuilletService
