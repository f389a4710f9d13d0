#pragma once

#include <string>

// The service runs the engine with system rights on a file that an ordinary
// user can write, and many engine fields act on the machine: they open,
// create or delete files at any path, start programs or open listeners. So
// the service runs only what it knows: the object kinds and keys listed in
// configallowlist.cpp, nothing else.
//
// Refused:
// - a document that is not strict JSON, or whose top level is not an object;
// - "log"."output", "experimental"."debug" and a "tor" outbound (named first,
//   with reasons of their own);
// - any key, or any "type" of an inbound, outbound, DNS server, rule, rule
//   set or transport, that the allow-list does not name;
// - a file-naming value that is absolute (starts with "/" or "\", or with a
//   drive letter and ":"), has ".." as a component, or holds "$" or "%" (the
//   engine expands environment variables in some of them);
// - a control-API UI folder that is not one plain name (the engine serves it
//   to every local user without the secret), and the UI download;
// - a legacy DNS server address other than udp/tcp/tls/https/quic/h3, a bare
//   IP or "local" ("dhcp://" binds port 68 on every interface);
// - a control API that listens anywhere but on loopback, on a port below
//   1024, or without a secret.
// - a key given twice in one object, exactly or differing only in case.
//
// Reasons name the field's place in the document and never its value: the
// service log is readable by more people than the file was.
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
