// The service's strict JSON reader against Qt's parser on the same bytes. What
// the reader accepts, Qt must read as the same tree (every key, string, number
// and literal), so the document the service's check approved cannot mean
// something else to the client's normalizer. Where only Qt accepts, the
// reader must have one of its deliberate reasons to be stricter.
#include "fuzzsupport.h"
#include "jsonreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <cstring>
#include <string>

using namespace QuilletService;

namespace {

void requireSame(const JsonValue &ours, const QJsonValue &qt, const std::string &at)
{
    const QByteArray where = QByteArray::fromStdString(at);
    switch (ours.type) {
    case JsonValue::Type::Null:
        Fuzz::require(qt.isNull(), "null read differently at", where);
        return;
    case JsonValue::Type::Bool:
        Fuzz::require(qt.isBool() && qt.toBool() == ours.boolean, "literal read differently at", where);
        return;
    case JsonValue::Type::Number: {
        Fuzz::require(qt.isDouble(), "number read differently at", where);
        const double value = std::strtod(ours.text.c_str(), nullptr);
        if (std::isfinite(value))
            Fuzz::require(qt.toDouble() == value, "number value differs at", where);
        return;
    }
    case JsonValue::Type::String: {
        // Qt's reader drops a raw byte order mark that starts a string value
        // (QString::fromUtf8); the service keeps the text as written, as the engine does.
        const bool leadingMark = ours.text.compare(0, 3, "\xEF\xBB\xBF") == 0;
        const std::string read = qt.toString().toStdString();
        Fuzz::require(qt.isString() && (read == ours.text || (leadingMark && read == ours.text.substr(3))),
                      "string read differently at", where);
        return;
    }
    case JsonValue::Type::Array: {
        Fuzz::require(qt.isArray() && qt.toArray().size() == qsizetype(ours.items.size()), "array differs at", where);
        const QJsonArray array = qt.toArray();
        for (std::size_t i = 0; i < ours.items.size(); ++i)
            requireSame(ours.items[i], array.at(qsizetype(i)), at + "[" + std::to_string(i) + "]");
        return;
    }
    case JsonValue::Type::Object: {
        Fuzz::require(qt.isObject() && qt.toObject().size() == qsizetype(ours.members.size()), "object differs at",
                      where);
        const QJsonObject object = qt.toObject();
        for (const auto &member : ours.members) {
            // QString::fromUtf8 drops a byte order mark at the start of the text,
            // but Qt's reader keeps one that starts a key: build that key by hand.
            std::size_t marks = 0;
            while (member.first.compare(marks * 3, 3, "\xEF\xBB\xBF") == 0)
                ++marks;
            const QString key = QString(qsizetype(marks), QChar(0xFEFF))
                + QString::fromStdString(member.first.substr(marks * 3));
            Fuzz::require(object.contains(key), "key missing in Qt's reading at", where);
            requireSame(member.second, object.value(key), at + "." + member.first);
        }
        return;
    }
    }
}

// The reader is stricter than Qt on purpose in these ways only.
bool deliberatelyStricter(const std::string &error)
{
    for (const char *reason : {"duplicate key", "nesting too deep", "too many values", "document larger",
                               "unpaired surrogate escape", "invalid UTF-8", "control character in string",
                               "number out of range", "invalid escape"}) {
        if (error.compare(0, std::strlen(reason), reason) == 0)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    const JsonParseResult ours = parseJson(bytes);
    QJsonParseError error;
    const QJsonDocument qt = QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &error);
    const bool qtAccepts = error.error == QJsonParseError::NoError;
    if (ours.ok) {
        // Qt reads only an object or an array at the top level.
        if (!ours.value.isObject() && !ours.value.isArray())
            return 0;
        Fuzz::require(qtAccepts, "the service's reader accepts what Qt refuses:",
                      error.errorString().toUtf8());
        requireSame(ours.value, qt.isObject() ? QJsonValue(qt.object()) : QJsonValue(qt.array()), "");
    } else if (qtAccepts && bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        // Qt skips a byte order mark; the service refuses one (strict JSON has none).
        // Qt also reads numbers such as ".5" and "+1", which JSON does not have.
        const bool laxNumber = ours.error.rfind("digit expected", 0) == 0 || ours.error == "leading zero in number"
            || (ours.error == "unexpected character" && ours.offset < bytes.size()
                && std::strchr(".+0123456789eE-", bytes[ours.offset]) != nullptr);
        Fuzz::require(laxNumber || deliberatelyStricter(ours.error), "Qt accepts what the service's reader refuses:",
                      QByteArray::fromStdString(ours.error));
    }
    return 0;
}
