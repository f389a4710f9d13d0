#pragma once

#include <QObject>

// Builds and normalizes the engine configuration and writes the active file.
// Stateless: every method is const.
class ConfigRepository : public QObject
{
    Q_OBJECT
public:
    explicit ConfigRepository(QObject *parent = nullptr);
};
