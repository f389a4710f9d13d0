#include "configrepository.h"

ConfigRepository::ConfigRepository(QObject *parent)
    : QObject(parent)
{
}
