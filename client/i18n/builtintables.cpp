#include "builtintables.h"

namespace I18n {

namespace {

// Controller messages that the resource file does not carry.
// Columns: source (zh-Hans), en, zh-Hant, ru, fr, ko, ja.
const TranslationRecord kRecords[] = {
    {"用户协议", "User Agreement", "用戶協議", "Пользовательское соглашение", "Conditions d'utilisation", "이용 약관", "利用規約"},
};

struct MapEntry
{
    const char *source;
    const char *translation;
};

// Per-language lists for texts of the tunnel and service layer.
const MapEntry kEnEntries[] = {
    {"未连接", "Not connected"},
};
const MapEntry kZhHantEntries[] = {
    {"未连接", "未連接"},
};
const MapEntry kRuEntries[] = {
    {"未连接", "Не подключено"},
};
const MapEntry kFrEntries[] = {
    {"未连接", "Non connecté"},
};
const MapEntry kKoEntries[] = {
    {"未连接", "연결되지 않음"},
};
const MapEntry kJaEntries[] = {
    {"未连接", "未接続"},
};

template<std::size_t N>
QHash<QString, QString> toMap(const MapEntry (&entries)[N])
{
    QHash<QString, QString> map;
    map.reserve(int(N));
    for (const MapEntry &entry : entries)
        map.insert(QString::fromUtf8(entry.source), QString::fromUtf8(entry.translation));
    return map;
}

} // namespace

const TranslationRecord *builtinRecords(int *count)
{
    *count = int(sizeof(kRecords) / sizeof(kRecords[0]));
    return kRecords;
}

const QHash<QString, QHash<QString, QString>> &builtinLanguageMaps()
{
    static const QHash<QString, QHash<QString, QString>> maps{
        {QStringLiteral("en"), toMap(kEnEntries)},     {QStringLiteral("zh-Hant"), toMap(kZhHantEntries)},
        {QStringLiteral("ru"), toMap(kRuEntries)},     {QStringLiteral("fr"), toMap(kFrEntries)},
        {QStringLiteral("ko"), toMap(kKoEntries)},     {QStringLiteral("ja"), toMap(kJaEntries)},
    };
    return maps;
}

} // namespace I18n
