#include "pingoutput.h"

#include <cmath>
#include <cstring>

namespace PingOutput {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

void skipSpaces(const std::string &text, std::size_t &at)
{
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
}

// Digits with an optional "." fraction, read by hand: the C library's reading
// follows the process locale, which may want a decimal comma.
bool readNumber(const std::string &text, std::size_t &at, double &value)
{
    const std::size_t start = at;
    double whole = 0;
    while (at < text.size() && isDigit(text[at]))
        whole = whole * 10 + (text[at++] - '0');
    if (at == start)
        return false;
    if (at + 1 < text.size() && text[at] == '.' && isDigit(text[at + 1])) {
        ++at;
        double scale = 0.1;
        while (at < text.size() && isDigit(text[at])) {
            whole += (text[at++] - '0') * scale;
            scale /= 10;
        }
    }
    value = whole;
    return true;
}

// "ms" in any case, or Russian "мс" in UTF-8, code page 866 or code page 1251.
bool startsWithUnit(const std::string &text, std::size_t at)
{
    static const char *const units[] = {"\xD0\xBC\xD1\x81", "\xAC\xE1", "\xEC\xF1"};
    if (at + 1 < text.size() && (text[at] == 'm' || text[at] == 'M') && (text[at + 1] == 's' || text[at + 1] == 'S'))
        return true;
    for (const char *unit : units) {
        if (text.compare(at, std::strlen(unit), unit) == 0)
            return true;
    }
    return false;
}

// Checked before the conversion: a double beyond int's range does not convert.
std::optional<int> rounded(double value)
{
    if (!(value <= kMaxLatencyMs))
        return std::nullopt;
    const int result = int(std::round(value));
    return result < 1 ? 1 : result;
}

std::string withoutHost(const std::string &output, const std::string &host)
{
    // Only a name holding "=" or "<" can read as a timed field; blanking any
    // other name could eat a real figure (a host "23" in "time=23 ms").
    if (host.find_first_of("=<") == std::string::npos)
        return output;
    std::string text = output;
    for (std::size_t at = text.find(host); at != std::string::npos; at = text.find(host, at + host.size()))
        text.replace(at, host.size(), host.size(), ' ');
    return text;
}

// The value of a timed field ("=23ms", "<1ms") starting at i, if there is one.
std::optional<double> timedValueAt(const std::string &text, std::size_t i)
{
    if (text[i] != '=' && text[i] != '<')
        return std::nullopt;
    std::size_t at = i + 1;
    skipSpaces(text, at);
    double value = 0;
    if (!readNumber(text, at, value))
        return std::nullopt;
    skipSpaces(text, at);
    return startsWithUnit(text, at) ? std::optional<double>(value) : std::nullopt;
}

} // namespace

std::optional<int> latencyMs(const std::string &rawOutput, const std::string &host)
{
    const std::string output = withoutHost(rawOutput, host);
    // A reply line has one timed field; Windows' summary line has three
    // (minimum, maximum, average, in that order in every language).
    for (std::size_t i = 0; i < output.size(); ++i) {
        std::optional<double> value = timedValueAt(output, i);
        if (!value)
            continue;
        int fields = 1;
        for (std::size_t j = i + 1; j < output.size() && output[j] != '\n'; ++j) {
            if (const std::optional<double> next = timedValueAt(output, j)) {
                ++fields;
                if (fields >= 3)
                    value = next;
            }
        }
        return rounded(*value);
    }
    for (std::size_t i = 0; i < output.size(); ++i) {
        if (output[i] != '=')
            continue;
        std::size_t at = i + 1;
        skipSpaces(output, at);
        double minimum = 0;
        double average = 0;
        double maximum = 0;
        if (readNumber(output, at, minimum) && at < output.size() && output[at] == '/'
            && readNumber(output, ++at, average) && at < output.size() && output[at] == '/'
            && readNumber(output, ++at, maximum)) {
            return rounded(average);
        }
    }
    return std::nullopt;
}

} // namespace PingOutput
