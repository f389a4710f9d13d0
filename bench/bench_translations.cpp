#include "i18n/translations.h"

#include <QtTest>

// Translation runs for every label binding on every language change: a lookup
// must stay a few hash probes, whatever stage answers it.
class TranslationBench : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookup_data();
    void lookup();
    void languageOptions();
};

void TranslationBench::lookup_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("text");
    QTest::newRow("file stage") << QStringLiteral("en") << QStringLiteral("岚舟");
    QTest::newRow("record stage") << QStringLiteral("ja") << QStringLiteral("退出");
    QTest::newRow("map stage") << QStringLiteral("ko") << QStringLiteral("未连接");
    QTest::newRow("untranslated") << QStringLiteral("fr") << QStringLiteral("没有译文的文字");
    QTest::newRow("source language") << QStringLiteral("zh-Hans") << QStringLiteral("未连接");
}

void TranslationBench::lookup()
{
    QFETCH(QString, language);
    QFETCH(QString, text);
    QString result;
    QBENCHMARK {
        result = I18n::translateText(language, text);
    }
    QVERIFY(!result.isEmpty());
}

void TranslationBench::languageOptions()
{
    QVariantList options;
    QBENCHMARK {
        options = I18n::languageOptions(QStringLiteral("en"));
    }
    QCOMPARE(options.size(), 8);
}

QTEST_APPLESS_MAIN(TranslationBench)
#include "bench_translations.moc"
