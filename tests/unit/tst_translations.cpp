#include "i18n/builtintables.h"
#include "i18n/placenames.h"
#include "i18n/translations.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

class TranslationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void normalize_data();
    void normalize();
    void effectiveLanguage_data();
    void effectiveLanguage();
    void acceptLanguage_data();
    void acceptLanguage();
    void followSystemLabel_data();
    void followSystemLabel();
    void blankKeysUnchanged();
    void fileStageFallsBackToEnglish();
    void recordStageAnswersWhenFileLacksText();
    void unknownTextReturnsSource_data();
    void unknownTextReturnsSource();
    void filledInMessagesTranslateThroughTheirTemplate_data();
    void filledInMessagesTranslateThroughTheirTemplate();
    void languageOptionsOrder();
    void resourceFileHasAllLanguages();
    void placeNames_data();
    void placeNames();
    void countriesSortByShownName_data();
    void countriesSortByShownName();
    void countedTexts_data();
    void countedTexts();
};

void TranslationsTest::normalize_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("blank") << QStringLiteral("  ") << QString();
    QTest::newRow("system any case") << QStringLiteral(" SyStEm ") << QString();
    QTest::newRow("taiwan underscore upper") << QStringLiteral("ZH_TW") << QStringLiteral("zh-Hant");
    QTest::newRow("hong kong") << QStringLiteral("zh_HK") << QStringLiteral("zh-Hant");
    QTest::newRow("macau") << QStringLiteral("zh-MO") << QStringLiteral("zh-Hant");
    QTest::newRow("hant script") << QStringLiteral("zh-Hant-TW") << QStringLiteral("zh-Hant");
    QTest::newRow("mainland") << QStringLiteral("zh_CN") << QStringLiteral("zh-Hans");
    QTest::newRow("bare zh") << QStringLiteral("zh") << QStringLiteral("zh-Hans");
    QTest::newRow("russian locale") << QStringLiteral("ru_RU") << QStringLiteral("ru");
    QTest::newRow("french canada") << QStringLiteral("fr_CA") << QStringLiteral("fr");
    QTest::newRow("korean") << QStringLiteral("ko_KR") << QStringLiteral("ko");
    QTest::newRow("japanese") << QStringLiteral("ja") << QStringLiteral("ja");
    QTest::newRow("portuguese") << QStringLiteral("pt_BR") << QStringLiteral("en");
    QTest::newRow("english") << QStringLiteral("en_US") << QStringLiteral("en");
    QTest::newRow("C locale") << QStringLiteral("C") << QStringLiteral("en");
}

void TranslationsTest::normalize()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(I18n::normalizedDesktopLanguage(input), expected);
}

void TranslationsTest::effectiveLanguage_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("systemLocale");
    QTest::addColumn<QString>("expected");

    QTest::newRow("stored wins") << QStringLiteral("fr") << QStringLiteral("ja_JP") << QStringLiteral("fr");
    QTest::newRow("follow japanese system") << QString() << QStringLiteral("ja_JP") << QStringLiteral("ja");
    QTest::newRow("follow taiwan system") << QString() << QStringLiteral("zh_TW") << QStringLiteral("zh-Hant");
    QTest::newRow("unsupported system") << QString() << QStringLiteral("de_DE") << QStringLiteral("en");
    QTest::newRow("empty system name") << QString() << QString() << QStringLiteral("en");
}

void TranslationsTest::effectiveLanguage()
{
    QFETCH(QString, stored);
    QFETCH(QString, systemLocale);
    QFETCH(QString, expected);
    QCOMPARE(I18n::effectiveDesktopLanguage(stored, systemLocale), expected);
}

void TranslationsTest::acceptLanguage_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");

    QTest::newRow("simplified") << QStringLiteral("zh-Hans") << QStringLiteral("zh-CN");
    QTest::newRow("traditional") << QStringLiteral("zh-Hant") << QStringLiteral("zh-TW");
    QTest::newRow("english") << QStringLiteral("en") << QStringLiteral("en");
    QTest::newRow("russian") << QStringLiteral("ru") << QStringLiteral("ru");
    QTest::newRow("french") << QStringLiteral("fr") << QStringLiteral("fr");
    QTest::newRow("korean") << QStringLiteral("ko") << QStringLiteral("ko");
    QTest::newRow("japanese") << QStringLiteral("ja") << QStringLiteral("ja");
}

void TranslationsTest::acceptLanguage()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    QCOMPARE(I18n::acceptLanguageForDesktopLanguage(stored), expected);
}

void TranslationsTest::followSystemLabel_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zh-Hans") << QStringLiteral("zh-Hans") << QStringLiteral("跟随系统");
    QTest::newRow("zh-Hant") << QStringLiteral("zh-Hant") << QStringLiteral("跟隨系統");
    QTest::newRow("ru") << QStringLiteral("ru") << QStringLiteral("Системный");
    QTest::newRow("fr") << QStringLiteral("fr") << QStringLiteral("Système");
    QTest::newRow("ko") << QStringLiteral("ko") << QStringLiteral("시스템");
    QTest::newRow("ja") << QStringLiteral("ja") << QStringLiteral("システム");
    QTest::newRow("en") << QStringLiteral("en") << QStringLiteral("System");
}

void TranslationsTest::followSystemLabel()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    QCOMPARE(I18n::translateText(stored, QStringLiteral("跟随系统")), expected);
}

void TranslationsTest::blankKeysUnchanged()
{
    QCOMPARE(I18n::translateText(QStringLiteral("en"), QString()), QString());
    QCOMPARE(I18n::translateText(QStringLiteral("en"), QStringLiteral("  ")), QStringLiteral("  "));
}

void TranslationsTest::fileStageFallsBackToEnglish()
{
    // Find a text whose entry exists in English but is missing (or blank) in another
    // language; the file stage must then answer in English. Build the case from
    // the shipped file so the test does not depend on any one entry.
    QFile file(QStringLiteral(":/i18n/tarn_i18n.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject root = QJsonDocument::fromJson(file.readAll()).object();
    const QJsonObject english = root.value(QStringLiteral("en")).toObject();
    QVERIFY(!english.isEmpty());
    const QString text = english.begin().key();
    const QString inEnglish = english.begin().value().toString();

    QCOMPARE(I18n::jsonTranslatedTextForLanguage(QStringLiteral("xx"), text), inEnglish);
    QCOMPARE(I18n::jsonTranslatedTextForLanguage(QStringLiteral("en"), QStringLiteral("不存在的文本")), QString());
}

void TranslationsTest::recordStageAnswersWhenFileLacksText()
{
    int count = 0;
    const I18n::TranslationRecord *records = I18n::builtinRecords(&count);
    QVERIFY(count > 0);
    int checked = 0;
    for (int i = 0; i < count; ++i) {
        const QString source = QString::fromUtf8(records[i].source);
        if (!I18n::jsonTranslatedTextForLanguage(QStringLiteral("ko"), source).isEmpty()
            || !I18n::jsonTranslatedTextForLanguage(QStringLiteral("zh-Hant"), source).isEmpty())
            continue;
        QCOMPARE(I18n::translatedTextForLanguage(QStringLiteral("ko"), source), QString::fromUtf8(records[i].ko));
        QCOMPARE(I18n::translatedTextForLanguage(QStringLiteral("zh-Hant"), source), QString::fromUtf8(records[i].zhHant));
        QCOMPARE(I18n::translatedTextForLanguage(QStringLiteral("zh-Hans"), source), source);
        ++checked;
    }
    QVERIFY2(checked > 0, "every record is shadowed by the resource file");
}

void TranslationsTest::unknownTextReturnsSource_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("no template near") << QStringLiteral("这段文字没有任何译文");
    // Unknown server texts that merely start or end like a one-part template.
    QTest::newRow("ends like a count") << QStringLiteral("已邀请 5 人");
    QTest::newRow("starts like the current node") << QStringLiteral("当前节点：维护中，请稍后");
}

void TranslationsTest::unknownTextReturnsSource()
{
    QFETCH(QString, text);
    for (const QString &language : I18n::targetLanguages())
        QCOMPARE(I18n::translatedTextForLanguage(language, text), text);
}

void TranslationsTest::filledInMessagesTranslateThroughTheirTemplate_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("templateSource");
    QTest::addColumn<QString>("value");

    QTest::newRow("map stage template") << QStringLiteral("en") << QStringLiteral("VPN 核心启动异常：boom")
                                        << QStringLiteral("VPN 核心启动异常：%1") << QStringLiteral("boom");
    QTest::newRow("file stage template, value first") << QStringLiteral("ja") << QStringLiteral("4 台设备")
                                                      << QStringLiteral("%1 台设备") << QStringLiteral("4");
}

void TranslationsTest::filledInMessagesTranslateThroughTheirTemplate()
{
    QFETCH(QString, language);
    QFETCH(QString, text);
    QFETCH(QString, templateSource);
    QFETCH(QString, value);
    const QString expected = I18n::translateText(language, templateSource).replace(QStringLiteral("%1"), value);
    QVERIFY(expected != text);
    QCOMPARE(I18n::translateText(language, text), expected);
    // The source language keeps the text as it is.
    QCOMPARE(I18n::translateText(QStringLiteral("zh-Hans"), text), text);
}

void TranslationsTest::languageOptionsOrder()
{
    const QVariantList options = I18n::languageOptions(QStringLiteral("en"));
    QStringList ids;
    for (const QVariant &option : options)
        ids << option.toMap().value(QStringLiteral("id")).toString();
    QCOMPARE(ids, (QStringList{QString(), "zh-Hans", "zh-Hant", "en", "ru", "fr", "ko", "ja"}));
    const QVariantMap first = options.first().toMap();
    QCOMPARE(first.value(QStringLiteral("nativeName")).toString(), QStringLiteral("System"));
    QCOMPARE(first.value(QStringLiteral("detail")).toString(), QStringLiteral("System default"));
    QCOMPARE(options.at(2).toMap().value(QStringLiteral("nativeName")).toString(), QStringLiteral("繁體中文"));
}

void TranslationsTest::resourceFileHasAllLanguages()
{
    QFile file(QStringLiteral(":/i18n/tarn_i18n.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject root = document.object();
    for (const char *language : {"zh-Hans", "zh-Hant", "en", "ru", "fr", "ko", "ja"})
        QVERIFY2(root.value(QLatin1String(language)).isObject(), language);
}

void TranslationsTest::placeNames_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("expected");

    QTest::newRow("en country and city") << "en" << "日本 · 东京" << "JP" << "Japan · Tokyo";
    QTest::newRow("ru district") << "ru" << "香港 · 九龙" << "HK" << "Гонконг · Коулун";
    QTest::newRow("ja country in katakana") << "ja" << "美国 · 洛杉矶" << "US" << "アメリカ · ロサンゼルス";
    QTest::newRow("zh-Hant node word") << "zh-Hant" << "香港 · 智能选路" << "HK" << "香港 · 智慧選路";
    QTest::newRow("ko without blanks around the dot") << "ko" << "新加坡·主线" << "SG" << "싱가포르 · 메인 라인";
    QTest::newRow("server sent English, shown in Chinese") << "zh-Hans" << "Hong Kong" << "HK" << "香港";
    QTest::newRow("any case of a foreign name") << "fr" << "JAPAN" << "" << "Japon";
    QTest::newRow("blank name from the code") << "en" << "  " << "sg" << "Singapore";
    QTest::newRow("UK means Great Britain") << "ru" << "" << "uk" << "Великобритания";
    QTest::newRow("the code as a name") << "en" << "HK" << "HK" << "Hong Kong";
    QTest::newRow("unknown city kept, country translated") << "fr" << "日本 · 札幌" << "JP" << "Japon · 札幌";
    QTest::newRow("unknown all through") << "en" << "火星" << "XX" << "火星";
    QTest::newRow("blank and unknown code") << "en" << "" << "XX" << "";
    QTest::newRow("source language unchanged") << "zh-Hans" << "美国 · 圣何塞" << "US" << "美国 · 圣何塞";
}

void TranslationsTest::placeNames()
{
    QFETCH(QString, language);
    QFETCH(QString, name);
    QFETCH(QString, code);
    QFETCH(QString, expected);
    QCOMPARE(I18n::localizedPlaceName(language, name, code), expected);
}

void TranslationsTest::countriesSortByShownName_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("expected");

    // The demo catalogue's four countries, ordered as each reader sees their names.
    QTest::newRow("zh-Hans pinyin") << "zh-Hans" << QStringList{"US", "JP", "HK", "SG"};
    QTest::newRow("en") << "en" << QStringList{"HK", "JP", "SG", "US"};
    QTest::newRow("ru") << "ru" << QStringList{"HK", "SG", "US", "JP"};
    QTest::newRow("fr") << "fr" << QStringList{"US", "HK", "JP", "SG"};
}

void TranslationsTest::countriesSortByShownName()
{
    QFETCH(QString, language);
    QFETCH(QStringList, expected);
    QStringList codes{"SG", "HK", "US", "JP"};
    std::sort(codes.begin(), codes.end(), [&language](const QString &left, const QString &right) {
        return I18n::compareNamesForLanguage(language, I18n::localizedPlaceName(language, QString(), left),
                                             I18n::localizedPlaceName(language, QString(), right))
            < 0;
    });
    QCOMPARE(codes, expected);
}

void TranslationsTest::countedTexts_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("expected");
    QTest::newRow("en one") << "en" << qint64(1) << "1 day";
    QTest::newRow("en seven") << "en" << qint64(7) << "7 days";
    QTest::newRow("en zero") << "en" << qint64(0) << "0 days";
    QTest::newRow("fr zero is singular") << "fr" << qint64(0) << "0 jour";
    QTest::newRow("fr two") << "fr" << qint64(2) << "2 jours";
    QTest::newRow("ru 1") << "ru" << qint64(1) << "1 день";
    QTest::newRow("ru 3") << "ru" << qint64(3) << "3 дня";
    QTest::newRow("ru 7") << "ru" << qint64(7) << "7 дней";
    QTest::newRow("ru 11") << "ru" << qint64(11) << "11 дней";
    QTest::newRow("ru 21") << "ru" << qint64(21) << "21 день";
    QTest::newRow("ru 22") << "ru" << qint64(22) << "22 дня";
    QTest::newRow("ru 112") << "ru" << qint64(112) << "112 дней";
    QTest::newRow("zh one form") << "zh-Hans" << qint64(7) << QStringLiteral("7 天"); // i18n-exempt: expected
    QTest::newRow("ja one form") << "ja" << qint64(1) << QStringLiteral("1 日"); // i18n-exempt: expected
}

// No "(s)": a counted text takes the form its count needs in the language.
void TranslationsTest::countedTexts()
{
    QFETCH(QString, language);
    QFETCH(qint64, count);
    QFETCH(QString, expected);
    QCOMPARE(I18n::translateCount(language, QStringLiteral("%1 天"), count), expected); // i18n-exempt: the key
    // A text without plural forms is the plain translation with the count.
    QCOMPARE(I18n::translateCount(language, QStringLiteral("%1 个节点"), count), // i18n-exempt: the key
             I18n::translateText(language, QStringLiteral("%1 个节点")).arg(count)); // i18n-exempt: the key
}

QTEST_APPLESS_MAIN(TranslationsTest)
#include "tst_translations.moc"
