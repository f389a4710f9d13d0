#include "translations.h"
#include "builtintables.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QVariantMap>

namespace I18n {

namespace {

const QString kFollowSystemLabel = QStringLiteral("跟随系统");

// Parsed once on first use and kept for the life of the process.
const QJsonObject &translationFile()
{
    static const QJsonObject file = [] {
        QFile f(QStringLiteral(":/i18n/tarn_i18n.json"));
        if (!f.open(QIODevice::ReadOnly))
            return QJsonObject();
        return QJsonDocument::fromJson(f.readAll()).object();
    }();
    return file;
}

// Per-language hash maps built from the file, so a lookup is one hash probe.
const QHash<QString, QString> &fileMapForLanguage(const QString &language)
{
    static QHash<QString, QHash<QString, QString>> maps = [] {
        QHash<QString, QHash<QString, QString>> result;
        const QJsonObject &file = translationFile();
        for (auto it = file.begin(); it != file.end(); ++it) {
            const QJsonObject entries = it.value().toObject();
            QHash<QString, QString> &map = result[it.key()];
            map.reserve(entries.size());
            for (auto e = entries.begin(); e != entries.end(); ++e)
                map.insert(e.key(), e.value().toString());
        }
        return result;
    }();
    static const QHash<QString, QString> empty;
    const auto found = maps.constFind(language);
    return found == maps.constEnd() ? empty : found.value();
}

const char *recordColumn(const TranslationRecord &record, const QString &language)
{
    if (language == QLatin1String("en"))
        return record.en;
    if (language == QLatin1String("zh-Hant"))
        return record.zhHant;
    if (language == QLatin1String("ru"))
        return record.ru;
    if (language == QLatin1String("fr"))
        return record.fr;
    if (language == QLatin1String("ko"))
        return record.ko;
    if (language == QLatin1String("ja"))
        return record.ja;
    return record.source;
}

// The record stage: an empty column falls back to the source text.
bool recordTranslation(const QString &language, const QString &text, QString *out)
{
    int count = 0;
    const TranslationRecord *records = builtinRecords(&count);
    for (int i = 0; i < count; ++i) {
        if (text != QString::fromUtf8(records[i].source))
            continue;
        const char *column = recordColumn(records[i], language);
        const QString translated = column ? QString::fromUtf8(column) : QString();
        *out = translated.isEmpty() ? text : translated;
        return true;
    }
    return false;
}

} // namespace

QString normalizedDesktopLanguage(const QString &language)
{
    const QString value = language.trimmed().replace(QLatin1Char('_'), QLatin1Char('-')).toLower();
    if (value.isEmpty() || value == QLatin1String("system"))
        return QString();
    for (const char *prefix : {"zh-hant", "zh-tw", "zh-hk", "zh-mo"}) {
        if (value.startsWith(QLatin1String(prefix)))
            return QStringLiteral("zh-Hant");
    }
    if (value.startsWith(QLatin1String("zh")))
        return QStringLiteral("zh-Hans");
    for (const char *code : {"ru", "fr", "ko", "ja"}) {
        if (value.startsWith(QLatin1String(code)))
            return QString::fromLatin1(code);
    }
    return QStringLiteral("en");
}

QString effectiveDesktopLanguage(const QString &storedLanguage, const QString &systemLocaleName)
{
    const QString stored = normalizedDesktopLanguage(storedLanguage);
    if (!stored.isEmpty())
        return stored;
    const QString system = normalizedDesktopLanguage(systemLocaleName);
    return system.isEmpty() ? QStringLiteral("en") : system;
}

QString effectiveDesktopLanguage(const QString &storedLanguage)
{
    return effectiveDesktopLanguage(storedLanguage, QLocale::system().name());
}

QString acceptLanguageForDesktopLanguage(const QString &storedLanguage)
{
    const QString effective = effectiveDesktopLanguage(storedLanguage);
    if (effective == QLatin1String("zh-Hans"))
        return QStringLiteral("zh-CN");
    if (effective == QLatin1String("zh-Hant"))
        return QStringLiteral("zh-TW");
    return effective;
}

QString jsonTranslatedTextForLanguage(const QString &language, const QString &text)
{
    QString found = fileMapForLanguage(language).value(text);
    if (found.trimmed().isEmpty() && language != QLatin1String("en"))
        found = fileMapForLanguage(QStringLiteral("en")).value(text);
    return found.trimmed().isEmpty() ? QString() : found;
}

QString translatedTextForLanguage(const QString &storedLanguage, const QString &text)
{
    const QString language = effectiveDesktopLanguage(storedLanguage);
    const QString fromFile = jsonTranslatedTextForLanguage(language, text);
    if (!fromFile.isEmpty())
        return fromFile;
    QString fromRecord;
    if (recordTranslation(language, text, &fromRecord))
        return fromRecord;
    if (language == QLatin1String("zh-Hans"))
        return text;
    const QString fromMap = builtinLanguageMaps().value(language).value(text);
    if (!fromMap.isEmpty())
        return fromMap;
    return text;
}

QString translateText(const QString &storedLanguage, const QString &key)
{
    if (key.trimmed().isEmpty())
        return key;
    if (key == kFollowSystemLabel) {
        const QString language = effectiveDesktopLanguage(storedLanguage);
        if (language == QLatin1String("zh-Hans"))
            return kFollowSystemLabel;
        if (language == QLatin1String("zh-Hant"))
            return QStringLiteral("跟隨系統");
        if (language == QLatin1String("ru"))
            return QStringLiteral("Системный");
        if (language == QLatin1String("fr"))
            return QStringLiteral("Système");
        if (language == QLatin1String("ko"))
            return QStringLiteral("시스템");
        if (language == QLatin1String("ja"))
            return QStringLiteral("システム");
        return QStringLiteral("System");
    }
    return translatedTextForLanguage(storedLanguage, key);
}

QVariantList languageOptions(const QString &storedLanguage)
{
    auto option = [](const QString &id, const QString &nativeName, const QString &detail) {
        return QVariantMap{{QStringLiteral("id"), id},
                           {QStringLiteral("nativeName"), nativeName},
                           {QStringLiteral("detail"), detail}};
    };
    return {
        option(QString(), translateText(storedLanguage, kFollowSystemLabel), QStringLiteral("System default")),
        option(QStringLiteral("zh-Hans"), QStringLiteral("简体中文"), QStringLiteral("Chinese Simplified")),
        option(QStringLiteral("zh-Hant"), QStringLiteral("繁體中文"), QStringLiteral("Chinese Traditional")),
        option(QStringLiteral("en"), QStringLiteral("English"), QStringLiteral("English")),
        option(QStringLiteral("ru"), QStringLiteral("Русский"), QStringLiteral("Russian")),
        option(QStringLiteral("fr"), QStringLiteral("Français"), QStringLiteral("French")),
        option(QStringLiteral("ko"), QStringLiteral("한국어"), QStringLiteral("Korean")),
        option(QStringLiteral("ja"), QStringLiteral("日本語"), QStringLiteral("Japanese")),
    };
}

const QStringList &targetLanguages()
{
    static const QStringList languages{QStringLiteral("zh-Hant"), QStringLiteral("en"), QStringLiteral("ru"),
                                       QStringLiteral("fr"), QStringLiteral("ko"), QStringLiteral("ja")};
    return languages;
}

bool hasTranslation(const QString &language, const QString &text)
{
    if (language == QLatin1String("zh-Hans"))
        return true;
    if (!fileMapForLanguage(language).value(text).trimmed().isEmpty())
        return true;
    int count = 0;
    const TranslationRecord *records = builtinRecords(&count);
    for (int i = 0; i < count; ++i) {
        if (text == QString::fromUtf8(records[i].source)) {
            const char *column = recordColumn(records[i], language);
            return column && *column;
        }
    }
    return !builtinLanguageMaps().value(language).value(text).isEmpty();
}

} // namespace I18n
