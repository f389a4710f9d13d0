#include "jsonreader.h"

#include <cmath>
#include <cstdint>
#include <locale>
#include <sstream>
#include <unordered_set>

namespace QuilletService {

namespace {

class Parser
{
public:
    Parser(const std::string &text, const JsonLimits &limits)
        : m_text(text)
        , m_limits(limits)
    { }

    JsonParseResult run()
    {
        JsonParseResult result;
        if (m_text.size() > m_limits.maxBytes) {
            result.error = "document larger than " + std::to_string(m_limits.maxBytes) + " bytes";
            return result;
        }
        skipWhitespace();
        if (parseValue(result.value, 0)) {
            skipWhitespace();
            if (m_pos != m_text.size())
                fail("unexpected data after the top-level value");
        }
        result.ok = m_error.empty();
        result.error = m_error;
        result.offset = m_pos;
        if (!result.ok)
            result.value = JsonValue();
        return result;
    }

private:
    bool fail(const char *message)
    {
        if (m_error.empty())
            m_error = message;
        return false;
    }

    bool atEnd() const { return m_pos >= m_text.size(); }
    unsigned char peek() const { return static_cast<unsigned char>(m_text[m_pos]); }

    void skipWhitespace()
    {
        while (!atEnd()) {
            const unsigned char c = peek();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
                break;
            ++m_pos;
        }
    }

    bool countValue()
    {
        if (++m_values > m_limits.maxValues)
            return fail("too many values");
        return true;
    }

    bool parseValue(JsonValue &out, int depth)
    {
        if (!countValue())
            return false;
        if (atEnd())
            return fail("unexpected end of document");
        switch (peek()) {
        case '{':
            return parseObject(out, depth + 1);
        case '[':
            return parseArray(out, depth + 1);
        case '"':
            out.type = JsonValue::Type::String;
            return parseString(out.text);
        case 't':
            out.type = JsonValue::Type::Bool;
            out.boolean = true;
            return parseLiteral("true");
        case 'f':
            out.type = JsonValue::Type::Bool;
            return parseLiteral("false");
        case 'n':
            out.type = JsonValue::Type::Null;
            return parseLiteral("null");
        default:
            out.type = JsonValue::Type::Number;
            return parseNumber(out.text);
        }
    }

    bool parseLiteral(const char *word)
    {
        for (const char *c = word; *c; ++c, ++m_pos) {
            if (atEnd() || m_text[m_pos] != *c)
                return fail("invalid literal");
        }
        return true;
    }

    bool parseDigits()
    {
        const std::size_t start = m_pos;
        while (!atEnd() && peek() >= '0' && peek() <= '9')
            ++m_pos;
        return m_pos > start;
    }

    bool parseNumber(std::string &out)
    {
        const std::size_t start = m_pos;
        if (!atEnd() && peek() == '-')
            ++m_pos;
        if (atEnd())
            return fail("unexpected end of document");
        if (peek() == '0') {
            ++m_pos;
            if (!atEnd() && peek() >= '0' && peek() <= '9')
                return fail("leading zero in number");
        } else if (!parseDigits()) {
            return fail("unexpected character");
        }
        if (!atEnd() && peek() == '.') {
            ++m_pos;
            if (!parseDigits())
                return fail("digit expected after decimal point");
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++m_pos;
            if (!atEnd() && (peek() == '+' || peek() == '-'))
                ++m_pos;
            if (!parseDigits())
                return fail("digit expected in exponent");
        }
        out.assign(m_text, start, m_pos - start);
        // The engine and Qt cannot hold a number beyond a double's range and
        // refuse the document; so does the service, and all three agree.
        std::istringstream number(out);
        number.imbue(std::locale::classic());
        double value = 0;
        number >> value;
        if (number.fail() || !std::isfinite(value))
            return fail("number out of range");
        return true;
    }

    static void appendUtf8(std::string &out, std::uint32_t cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool parseHex4(std::uint32_t &out)
    {
        out = 0;
        for (int i = 0; i < 4; ++i, ++m_pos) {
            if (atEnd())
                return fail("unexpected end of document");
            const unsigned char c = peek();
            out <<= 4;
            if (c >= '0' && c <= '9')
                out |= c - '0';
            else if (c >= 'a' && c <= 'f')
                out |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                out |= c - 'A' + 10;
            else
                return fail("invalid \\u escape");
        }
        return true;
    }

    bool parseEscape(std::string &out)
    {
        if (atEnd())
            return fail("unexpected end of document");
        const unsigned char c = peek();
        ++m_pos;
        switch (c) {
        case '"':
            out += '"';
            return true;
        case '\\':
            out += '\\';
            return true;
        case '/':
            out += '/';
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            break;
        default:
            return fail("invalid escape");
        }
        std::uint32_t cp = 0;
        if (!parseHex4(cp))
            return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            return fail("unpaired surrogate escape");
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (m_pos + 1 >= m_text.size() || m_text[m_pos] != '\\' || m_text[m_pos + 1] != 'u')
                return fail("unpaired surrogate escape");
            m_pos += 2;
            std::uint32_t low = 0;
            if (!parseHex4(low))
                return false;
            if (low < 0xDC00 || low > 0xDFFF)
                return fail("unpaired surrogate escape");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, cp);
        return true;
    }

    // One raw UTF-8 sequence, validated: no overlong forms, no surrogates, nothing past U+10FFFF.
    bool parseUtf8Sequence(std::string &out)
    {
        const unsigned char lead = peek();
        int length = 0;
        std::uint32_t cp = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            cp = lead & 0x07;
        } else {
            return fail("invalid UTF-8");
        }
        if (m_pos + length > m_text.size())
            return fail("invalid UTF-8");
        for (int i = 1; i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(m_text[m_pos + i]);
            if ((c & 0xC0) != 0x80)
                return fail("invalid UTF-8");
            cp = (cp << 6) | (c & 0x3F);
        }
        if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))
            || (cp >= 0xD800 && cp <= 0xDFFF))
            return fail("invalid UTF-8");
        out.append(m_text, m_pos, length);
        m_pos += length;
        return true;
    }

    bool parseString(std::string &out)
    {
        ++m_pos; // opening quote
        out.clear();
        while (true) {
            if (atEnd())
                return fail("unterminated string");
            const unsigned char c = peek();
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (c == '\\') {
                ++m_pos;
                if (!parseEscape(out))
                    return false;
            } else if (c < 0x20) {
                return fail("control character in string");
            } else if (c < 0x80) {
                out += static_cast<char>(c);
                ++m_pos;
            } else if (!parseUtf8Sequence(out)) {
                return false;
            }
        }
    }

    bool parseArray(JsonValue &out, int depth)
    {
        if (depth > m_limits.maxDepth)
            return fail("nesting too deep");
        out.type = JsonValue::Type::Array;
        ++m_pos;
        skipWhitespace();
        if (!atEnd() && peek() == ']') {
            ++m_pos;
            return true;
        }
        while (true) {
            out.items.emplace_back();
            if (!parseValue(out.items.back(), depth))
                return false;
            skipWhitespace();
            if (atEnd())
                return fail("unexpected end of document");
            if (peek() == ']') {
                ++m_pos;
                return true;
            }
            if (peek() != ',')
                return fail("',' or ']' expected");
            ++m_pos;
            skipWhitespace();
        }
    }

    bool parseObject(JsonValue &out, int depth)
    {
        if (depth > m_limits.maxDepth)
            return fail("nesting too deep");
        out.type = JsonValue::Type::Object;
        ++m_pos;
        skipWhitespace();
        if (!atEnd() && peek() == '}') {
            ++m_pos;
            return true;
        }
        // Readers disagree about a repeated key (the engine takes the last,
        // others the first or both), so a document with one means different
        // things to the check and to the engine: it is refused.
        std::unordered_set<std::string> keys;
        while (true) {
            if (atEnd() || peek() != '"')
                return fail("object key expected");
            out.members.emplace_back();
            if (!parseString(out.members.back().first))
                return false;
            if (!keys.insert(out.members.back().first).second)
                return fail("duplicate key");
            skipWhitespace();
            if (atEnd() || peek() != ':')
                return fail("':' expected");
            ++m_pos;
            skipWhitespace();
            if (!parseValue(out.members.back().second, depth))
                return false;
            skipWhitespace();
            if (atEnd())
                return fail("unexpected end of document");
            if (peek() == '}') {
                ++m_pos;
                return true;
            }
            if (peek() != ',')
                return fail("',' or '}' expected");
            ++m_pos;
            skipWhitespace();
        }
    }

    const std::string &m_text;
    const JsonLimits m_limits;
    std::size_t m_pos = 0;
    std::size_t m_values = 0;
    std::string m_error;
};

} // namespace

JsonParseResult parseJson(const std::string &text, const JsonLimits &limits)
{
    return Parser(text, limits).run();
}

} // namespace QuilletService
