// The parsers behind the motion preference; no Qt, so the Windows build links them too.
#include "platform/motion.h"


namespace Platform {
namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string trimmed(const std::string &text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

// "Name" of "Name" or "Name[$i]": KConfig's options in brackets do not change the name.
std::string withoutOptions(const std::string &name)
{
    const std::size_t bracket = name.find('[');
    return trimmed(bracket == std::string::npos ? name : name.substr(0, bracket));
}

// A plain decimal number ("0", "0.5", "+1", ".25"): Reduced for zero, Full above
// it, NoPreference for anything else. By hand, since strtod follows the locale's
// decimal point.
MotionPreference factorPreference(const std::string &value)
{
    std::size_t i = value.empty() || value[0] != '+' ? 0 : 1;
    bool digits = false;
    bool nonZero = false;
    bool point = false;
    for (; i < value.size(); ++i) {
        const char c = value[i];
        if (c >= '0' && c <= '9') {
            digits = true;
            nonZero = nonZero || c != '0';
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return MotionPreference::NoPreference;
        }
    }
    if (!digits)
        return MotionPreference::NoPreference;
    return nonZero ? MotionPreference::Full : MotionPreference::Reduced;
}

} // namespace

const char *motionPreferenceName(MotionPreference preference)
{
    switch (preference) {
    case MotionPreference::Reduced:
        return "reduced";
    case MotionPreference::Full:
        return "full";
    case MotionPreference::NoPreference:
        break;
    }
    return "no preference";
}

MotionPreference parseGnomeEnableAnimations(const std::string &answer)
{
    const std::string value = trimmed(answer);
    if (value == "false")
        return MotionPreference::Reduced;
    if (value == "true")
        return MotionPreference::Full;
    return MotionPreference::NoPreference;
}

MotionPreference parseKdeAnimationDurationFactor(const std::string &kdeglobals)
{
    MotionPreference result = MotionPreference::NoPreference;
    bool inKdeGroup = false;
    std::size_t start = 0;
    while (start <= kdeglobals.size()) {
        std::size_t end = kdeglobals.find('\n', start);
        if (end == std::string::npos)
            end = kdeglobals.size();
        const std::string line = trimmed(kdeglobals.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            // "[KDE]" (optionally "[KDE][$i]"); a nested group "[KDE][Sub]" is another group.
            inKdeGroup = line == "[KDE]" || line == "[KDE][$i]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inKdeGroup || equals == std::string::npos || withoutOptions(line.substr(0, equals)) != "AnimationDurationFactor")
            continue;
        // The last entry wins, as KConfig reads it.
        result = factorPreference(trimmed(line.substr(equals + 1)));
    }
    return result;
}

MotionPreference clientAreaAnimationPreference(bool answered, bool enabled)
{
    if (!answered)
        return MotionPreference::NoPreference;
    return enabled ? MotionPreference::Full : MotionPreference::Reduced;
}

} // namespace Platform
