#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <initializer_list>
#include <utility>

// A compact JSON object whose keys keep the given order (QJsonObject sorts them).
QByteArray orderedJsonObject(std::initializer_list<std::pair<QString, QVariant>> members);
