#include "i18n/translations.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

// Every Chinese text the client can show must be translated into all six
// other languages. Lines marked "i18n-exempt" (log lines, identity values) and
// the translation tables themselves are not scanned.
class TranslationCoverageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void scannerFindsLiterals();
    void everyChineseLiteralIsTranslated();

private:
    static QStringList chineseLiterals(const QString &source, bool singleQuotesToo);
    QString m_sourceDir;
};

namespace {

const QRegularExpression &chinese()
{
    static const QRegularExpression re(QStringLiteral("[\\x{4e00}-\\x{9fff}]"));
    return re;
}

QString unescape(const QString &literal)
{
    QString out;
    out.reserve(literal.size());
    for (int i = 0; i < literal.size(); ++i) {
        const QChar c = literal.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= literal.size()) {
            out += c;
            continue;
        }
        const QChar next = literal.at(++i);
        if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else
            out += next;
    }
    return out;
}

} // namespace

QStringList TranslationCoverageTest::chineseLiterals(const QString &source, bool singleQuotesToo)
{
    static const QRegularExpression doubleQuoted(QStringLiteral(R"re("((?:[^"\\\n]|\\.)*)")re"));
    static const QRegularExpression anyQuoted(QStringLiteral(R"re("((?:[^"\\\n]|\\.)*)"|'((?:[^'\\\n]|\\.)*)')re"));
    QStringList found;
    const QStringList lines = source.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1String("//")) || trimmed.startsWith(QLatin1Char('*'))
            || line.contains(QLatin1String("i18n-exempt")))
            continue;
        auto it = (singleQuotesToo ? anyQuoted : doubleQuoted).globalMatch(line);
        while (it.hasNext()) {
            const QRegularExpressionMatch match = it.next();
            const QString literal = match.captured(1).isNull() ? match.captured(2) : match.captured(1);
            if (literal.contains(chinese()))
                found << unescape(literal);
        }
    }
    return found;
}

void TranslationCoverageTest::initTestCase()
{
    m_sourceDir = qEnvironmentVariable("QUILLET_SOURCE_DIR");
    if (m_sourceDir.isEmpty())
        m_sourceDir = QStringLiteral(QUILLET_SOURCE_DIR_FALLBACK);
    QVERIFY2(QFile::exists(m_sourceDir + QStringLiteral("/client")), qPrintable(m_sourceDir));
}

void TranslationCoverageTest::scannerFindsLiterals()
{
    const QString sample = QStringLiteral(
        "label: t(\"主页\")\n"
        "// t(\"注释里的文字\")\n"
        "x = QStringLiteral(\"第一行\\n第二行：%1\");\n"
        "y = 'English only'\n"
        "z = '单引号'\n"
        "log(\"启动 岚舟\"); // i18n-exempt\n");
    QCOMPARE(chineseLiterals(sample, true),
             (QStringList{QStringLiteral("主页"), QStringLiteral("第一行\n第二行：%1"), QStringLiteral("单引号")}));
    QCOMPARE(chineseLiterals(sample, false), (QStringList{QStringLiteral("主页"), QStringLiteral("第一行\n第二行：%1")}));
}

void TranslationCoverageTest::everyChineseLiteralIsTranslated()
{
    QSet<QString> seen;
    QStringList missing;
    int scanned = 0;
    QDirIterator it(m_sourceDir + QStringLiteral("/client"),
                    {QStringLiteral("*.cpp"), QStringLiteral("*.h"), QStringLiteral("*.qml"), QStringLiteral("*.js")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(QLatin1String("/client/i18n/")))
            continue;
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const bool script = path.endsWith(QLatin1String(".qml")) || path.endsWith(QLatin1String(".js"));
        const QString relative = path.mid(m_sourceDir.size() + 1);
        for (const QString &text : chineseLiterals(QString::fromUtf8(file.readAll()), script)) {
            ++scanned;
            if (seen.contains(text))
                continue;
            seen.insert(text);
            QStringList lacking;
            for (const QString &language : I18n::targetLanguages()) {
                if (!I18n::hasTranslation(language, text))
                    lacking << language;
            }
            if (!lacking.isEmpty())
                missing << QStringLiteral("%1: \"%2\" lacks %3").arg(relative, text, lacking.join(QLatin1Char(',')));
        }
    }
    QVERIFY2(scanned > 0, "no Chinese text found: wrong source directory?");
    if (!missing.isEmpty())
        QFAIL(qPrintable(QStringLiteral("%1 untranslated text(s):\n").arg(missing.size()) + missing.join(QLatin1Char('\n'))));
}

QTEST_APPLESS_MAIN(TranslationCoverageTest)
#include "tst_translationcoverage.moc"
