#include "testenvironment.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

TestEnvironment::TestEnvironment()
{
    m_hadProgramData = qEnvironmentVariableIsSet("ProgramData");
    m_oldProgramData = qgetenv("ProgramData");
    m_hadLogDir = qEnvironmentVariableIsSet("QUILLET_LOG_DIR");
    m_oldLogDir = qgetenv("QUILLET_LOG_DIR");

    QDir(m_dir.path()).mkpath(QStringLiteral("ProgramData"));
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("home"));
    qputenv("ProgramData", programData().toLocal8Bit());
    // The client's logs of this test stay in its own tree, not beside the programs.
    qputenv("QUILLET_LOG_DIR", logDirectory().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", path(QStringLiteral("home/.local/share")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", path(QStringLiteral("home/.cache")).toLocal8Bit());
    // A closed loopback port: requests fail at once instead of waiting on DNS.
    qputenv("TARN_API_BASE_URL", "http://127.0.0.1:9");
    QStandardPaths::setTestModeEnabled(true);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path(QStringLiteral("config")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path(QStringLiteral("config")));
    clearSettings();
}

TestEnvironment::~TestEnvironment()
{
    clearSettings();
    if (m_hadProgramData)
        qputenv("ProgramData", m_oldProgramData);
    else
        qunsetenv("ProgramData");
    if (m_hadLogDir)
        qputenv("QUILLET_LOG_DIR", m_oldLogDir);
    else
        qunsetenv("QUILLET_LOG_DIR");
}

QString TestEnvironment::logDirectory() const
{
    return path(QStringLiteral("logs"));
}

QString TestEnvironment::programData() const
{
    return path(QStringLiteral("ProgramData"));
}

QString TestEnvironment::path(const QString &relative) const
{
    return QDir(m_dir.path()).filePath(relative);
}

void TestEnvironment::clearSettings()
{
    QSettings store(QStringLiteral("Quillet"), QStringLiteral("岚舟"));
    store.clear();
    store.sync();
}
