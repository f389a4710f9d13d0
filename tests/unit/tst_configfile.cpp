#include "testenvironment.h"

#include "controller/appcontroller.h"
#include "tunnel/configbuilder.h"
#include "tunnel/confignormalization.h"
#include "tunnel/configrepository.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

using namespace TunnelConfig;

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The entries of the configuration folder: a failed write leaves no temporary
// file behind.
QStringList configFolderEntries(const QString &programData)
{
    return QDir(programData + QStringLiteral("/Quillet/configs"))
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray largeDocument(int size)
{
    QByteArray bytes("{\"padding\": \"");
    bytes.append(QByteArray(size, 'x'));
    bytes.append("\"}");
    return bytes;
}

#ifdef Q_OS_UNIX
// Makes the disk look full to this process: files cannot grow beyond the
// limit, writes past it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        m_active = getrlimit(RLIMIT_FSIZE, &m_previous) == 0;
        rlimit limited = m_previous;
        limited.rlim_cur = bytes;
        m_active = m_active && setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit()
    {
        if (m_active)
            setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    bool isActive() const { return m_active; }

private:
    rlimit m_previous{};
    bool m_active = false;
    void (*m_previousHandler)(int) = nullptr;
};
#endif

} // namespace

class ConfigFileTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void writesAndReplacesActiveConfig();
    void writesNormalizedServerConfig();
    void writesLocalConfig();
    void unwritableLocation_data();
    void unwritableLocation();
    void fullDevice_data();
    void fullDevice();
    void controllerPreviewIsTheLocalDocument();

private:
    TestEnvironment m_env;
    QString m_activePath;
};

void ConfigFileTest::init()
{
    qputenv("ProgramData", m_env.programData().toLocal8Bit());
    QDir(m_env.programData()).removeRecursively();
    QVERIFY(QDir().mkpath(m_env.programData()));
    m_activePath = QDir::toNativeSeparators(m_env.programData() + QStringLiteral("/Quillet/configs/active.json"));
}

void ConfigFileTest::writesAndReplacesActiveConfig()
{
    QCOMPARE(activeConfigPath(), m_activePath);
    QCOMPARE(writeConfigBytes("{\"first\": true}"), m_activePath);
    QCOMPARE(readFile(m_activePath), QByteArray("{\"first\": true}"));

    const QByteArray second = largeDocument(200000);
    QCOMPARE(writeConfigBytes(second), m_activePath);
    QCOMPARE(readFile(m_activePath), second);
    QCOMPARE(writeConfigBytes("{}"), m_activePath);
    QCOMPARE(readFile(m_activePath), QByteArray("{}"));
    QCOMPARE(configFolderEntries(m_env.programData()), QStringList{QStringLiteral("active.json")});
}

void ConfigFileTest::writesNormalizedServerConfig()
{
    const QByteArray served(R"({"inbounds": [{"type": "tun", "sniff": true}], "log": {"output": "/tmp/x.log"}})");
    QCOMPARE(ConfigRepository().writeRemoteConfig(served), m_activePath);
    QCOMPARE(readFile(m_activePath), normalizeRemoteDesktopConfig(served));
    QVERIFY(!readFile(m_activePath).contains("sniff"));
}

void ConfigFileTest::writesLocalConfig()
{
    const QVariantMap node{{QStringLiteral("outbound"), QVariantMap{{QStringLiteral("type"), QStringLiteral("trojan")}}}};
    const QVariantMap settings{{QStringLiteral("routingMode"), QStringLiteral("global")}};
    QCOMPARE(ConfigRepository().writeActiveConfig(node, settings, QStringLiteral("s")), m_activePath);
    QVERIFY(QJsonDocument::fromJson(readFile(m_activePath)).object()
            == buildDesktopConfig(node, settings, QStringLiteral("s")));
}

void ConfigFileTest::unwritableLocation_data()
{
    QTest::addColumn<QString>("obstacle"); // relative to ProgramData
    QTest::addColumn<bool>("asDirectory");
    QTest::addColumn<QString>("programDataOverride"); // relative to the test root, empty: unchanged

    // The tests run as root, so permissions stop nothing: the obstacles are
    // files where folders must go and a folder where the file must go.
    QTest::newRow("data directory is a file") << QStringLiteral("Quillet") << false << QString();
    QTest::newRow("configs is a file") << QStringLiteral("Quillet/configs") << false << QString();
    QTest::newRow("active.json is a folder") << QStringLiteral("Quillet/configs/active.json") << true << QString();
    QTest::newRow("ProgramData below a file")
        << QStringLiteral("Quillet") << false << QStringLiteral("ProgramData/Quillet/deeper");
}

void ConfigFileTest::unwritableLocation()
{
    QFETCH(QString, obstacle);
    QFETCH(bool, asDirectory);
    QFETCH(QString, programDataOverride);

    const QString obstaclePath = m_env.programData() + QLatin1Char('/') + obstacle;
    QVERIFY(QDir().mkpath(QFileInfo(obstaclePath).absolutePath()));
    if (asDirectory) {
        QVERIFY(QDir().mkpath(obstaclePath));
        QVERIFY(writeFile(obstaclePath + QStringLiteral("/keep"), "kept"));
    } else {
        QVERIFY(writeFile(obstaclePath, "not a folder"));
    }
    if (!programDataOverride.isEmpty())
        qputenv("ProgramData", m_env.path(programDataOverride).toLocal8Bit());

    QCOMPARE(writeConfigBytes("{\"x\": 1}"), QString());
    QCOMPARE(ConfigRepository().writeRemoteConfig("{}"), QString());
    if (asDirectory)
        QCOMPARE(readFile(obstaclePath + QStringLiteral("/keep")), QByteArray("kept"));
    else
        QCOMPARE(readFile(obstaclePath), QByteArray("not a folder"));
}

void ConfigFileTest::fullDevice_data()
{
    QTest::addColumn<int>("size");
    // Larger than the write buffer: the write itself comes up short.
    QTest::newRow("fails while writing") << 256 * 1024;
    // Fits the write buffer: the failure shows only when it is flushed.
    QTest::newRow("fails when the buffer is flushed") << 6 * 1024;
}

void ConfigFileTest::fullDevice()
{
#ifdef Q_OS_UNIX
    QFETCH(int, size);
    const QByteArray previous("{\"previous\": true}");
    QCOMPARE(writeConfigBytes(previous), m_activePath);

    QString result;
    {
        FileSizeLimit limit(1024);
        QVERIFY(limit.isActive());
        result = writeConfigBytes(largeDocument(size));
    }
    QCOMPARE(result, QString());
    QCOMPARE(readFile(m_activePath), previous);
    QCOMPARE(configFolderEntries(m_env.programData()), QStringList{QStringLiteral("active.json")});
#else
    QSKIP("needs a file size limit");
#endif
}

void ConfigFileTest::controllerPreviewIsTheLocalDocument()
{
    AppController controller;
    QCOMPARE(controller.clashSecret().size(), 36);
    QVERIFY(controller.clashSecret() != AppController().clashSecret());
    const QVariantMap node = controller.selectedNode();
    QVERIFY(!node.isEmpty());
    const QJsonObject expected = buildDesktopConfig(node, controller.localSettings(), controller.clashSecret());
    QVERIFY(QJsonDocument::fromJson(controller.configPreview().toUtf8()).object() == expected);
    QCOMPARE(clashApiSettingsFromConfig(controller.configPreview().toUtf8()).value(QStringLiteral("secret")).toString(),
             controller.clashSecret());
}

QTEST_GUILESS_MAIN(ConfigFileTest)
#include "tst_configfile.moc"
