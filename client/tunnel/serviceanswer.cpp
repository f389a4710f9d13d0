#include "serviceanswer.h"

#include <algorithm>

namespace ServiceAnswer {

namespace {

bool containsIgnoringAsciiCase(const std::string &text, const std::string &word)
{
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::search(text.begin(), text.end(), word.begin(), word.end(),
               [&](char a, char b) { return lower(a) == lower(b); })
        != text.end();
}

} // namespace

bool queryFoundService(int exitCode)
{
    return exitCode == 0;
}

bool reportsRunning(int exitCode, const std::string &output)
{
    return exitCode == 0 && containsIgnoringAsciiCase(output, "RUNNING");
}

bool startAccepted(int exitCode, const std::string &output)
{
    return exitCode == 0 || output.find("1056") != std::string::npos;
}

bool accessDenied(const std::string &output)
{
    return containsIgnoringAsciiCase(output, "Access is denied")
        || output.find("\xE6\x8B\x92\xE7\xBB\x9D\xE8\xAE\xBF\xE9\x97\xAE") != std::string::npos;
}

} // namespace ServiceAnswer
