#pragma once

#include <QString>
#include <QTemporaryDir>

// Points every file the client touches at a fresh temporary tree: settings,
// standard paths and the shared data directory ("ProgramData"). Create one
// before the code under test, keep it alive for the test's whole run.
class TestEnvironment
{
public:
    TestEnvironment();
    ~TestEnvironment();

    QString root() const { return m_dir.path(); }
    QString programData() const;
    // Where the client's diagnostic and start-up logs go ("QUILLET_LOG_DIR").
    QString logDirectory() const;
    QString path(const QString &relative) const;

    // Removes every stored setting of the client's store.
    static void clearSettings();

private:
    QTemporaryDir m_dir;
    QByteArray m_oldProgramData;
    bool m_hadProgramData = false;
    QByteArray m_oldLogDir;
    bool m_hadLogDir = false;
};
