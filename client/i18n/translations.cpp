#include "translations.h"
#include "builtintables.h"

#include <QCollator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QSet>
#include <QVariantMap>

#include <algorithm>

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

// Source text -> the first record holding it, so a lookup is one probe instead of a scan.
const TranslationRecord *findRecord(const QString &text)
{
    static const QHash<QString, const TranslationRecord *> index = [] {
        QHash<QString, const TranslationRecord *> result;
        int count = 0;
        const TranslationRecord *records = builtinRecords(&count);
        for (int i = 0; i < count; ++i) {
            const QString source = QString::fromUtf8(records[i].source);
            if (!result.contains(source))
                result.insert(source, &records[i]);
        }
        return result;
    }();
    return index.value(text, nullptr);
}

// The record stage: an empty column falls back to the source text.
bool recordTranslation(const QString &language, const QString &text, QString *out)
{
    const TranslationRecord *record = findRecord(text);
    if (!record)
        return false;
    const char *column = recordColumn(*record, language);
    const QString translated = column ? QString::fromUtf8(column) : QString();
    *out = translated.isEmpty() ? text : translated;
    return true;
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

namespace {

QString exactTranslation(const QString &language, const QString &text, bool *found)
{
    *found = true;
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
    *found = false;
    return text;
}

struct Template
{
    QString source;
    QString prefix;
    QString suffix;
};

// Every known source text with exactly one "%1", so a message stored with its
// value filled in ("curl 退出码 35") is still shown in the user's language.
const QList<Template> &templates()
{
    static const QList<Template> list = [] {
        QSet<QString> sources;
        const QJsonObject &file = translationFile();
        for (auto it = file.begin(); it != file.end(); ++it) {
            const QJsonObject entries = it.value().toObject();
            for (auto e = entries.begin(); e != entries.end(); ++e)
                sources.insert(e.key());
        }
        int count = 0;
        const TranslationRecord *records = builtinRecords(&count);
        for (int i = 0; i < count; ++i)
            sources.insert(QString::fromUtf8(records[i].source));
        for (const auto &map : builtinLanguageMaps())
            for (auto it = map.begin(); it != map.end(); ++it)
                sources.insert(it.key());
        QList<Template> result;
        for (const QString &source : std::as_const(sources)) {
            if (source.count(QLatin1String("%1")) != 1 || source.contains(QLatin1String("%2")))
                continue;
            const int at = source.indexOf(QLatin1String("%1"));
            result.append({source, source.left(at), source.mid(at + 2)});
        }
        // Longer fixed parts first: the most specific template wins.
        std::sort(result.begin(), result.end(), [](const Template &a, const Template &b) {
            return a.prefix.size() + a.suffix.size() > b.prefix.size() + b.suffix.size();
        });
        return result;
    }();
    return list;
}

bool containsHan(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff)
            return true;
    }
    return false;
}

} // namespace

QString translatedTextForLanguage(const QString &storedLanguage, const QString &text)
{
    const QString language = effectiveDesktopLanguage(storedLanguage);
    bool found = false;
    const QString exact = exactTranslation(language, text, &found);
    if (found || !containsHan(text))
        return exact;
    for (const Template &candidate : templates()) {
        if (candidate.prefix.isEmpty() && candidate.suffix.isEmpty())
            continue;
        if (text.size() <= candidate.prefix.size() + candidate.suffix.size() || !text.startsWith(candidate.prefix)
            || !text.endsWith(candidate.suffix))
            continue;
        bool templateFound = false;
        const QString translated = exactTranslation(language, candidate.source, &templateFound);
        if (!templateFound)
            continue;
        const QString value = text.mid(candidate.prefix.size(), text.size() - candidate.prefix.size() - candidate.suffix.size());
        // A template with only one fixed part matches far too much: "%1 人"
        // would swallow any text ending in "人". It stands only for a value
        // that is plainly a value (a number, a name, an error code), never for
        // more Chinese text it does not know.
        const bool oneSided = candidate.prefix.isEmpty() || candidate.suffix.isEmpty();
        if (oneSided && containsHan(value))
            continue;
        return QString(translated).replace(QLatin1String("%1"), value);
    }
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
    if (const TranslationRecord *record = findRecord(text)) {
        const char *column = recordColumn(*record, language);
        return column && *column;
    }
    return !builtinLanguageMaps().value(language).value(text).isEmpty();
}

int compareNamesForLanguage(const QString &language, const QString &left, const QString &right)
{
    QCollator collator(QLocale(acceptLanguageForDesktopLanguage(language)));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(true);
    return collator.compare(left, right);
}

int pluralFormIndex(const QString &effectiveLanguage, qint64 count)
{
    const qint64 n = count < 0 ? -count : count;
    if (effectiveLanguage == QLatin1String("en"))
        return n == 1 ? 0 : 1;
    if (effectiveLanguage == QLatin1String("fr"))
        return n <= 1 ? 0 : 1;
    if (effectiveLanguage == QLatin1String("ru")) {
        if (n % 10 == 1 && n % 100 != 11)
            return 0;
        if (n % 10 >= 2 && n % 10 <= 4 && (n % 100 < 12 || n % 100 > 14))
            return 1;
        return 2;
    }
    return 0;
}

QString translateCount(const QString &storedLanguage, const QString &key, qint64 count)
{
    const QStringList forms = translateText(storedLanguage, key).split(QLatin1Char('|'));
    const int index = qMin(pluralFormIndex(effectiveDesktopLanguage(storedLanguage), count), int(forms.size()) - 1);
    return forms.at(index).arg(count);
}

} // namespace I18n
