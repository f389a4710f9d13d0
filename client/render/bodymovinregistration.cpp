#include "render/bodymovinitem.h"

#include <QCoreApplication>
#include <QtQml/qqml.h>

// Built into every program that loads the window, like the resources, so the
// type is there before any engine is made and no program has to remember it.
static void registerBodymovinTypes()
{
    qmlRegisterType<BodymovinItem>("Quillet.Render", 1, 0, "BodymovinItem");
}
Q_COREAPP_STARTUP_FUNCTION(registerBodymovinTypes)
