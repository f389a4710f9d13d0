#include "traytranslator.h"

#include "controller/appcontroller.h"

TrayTranslator::TrayTranslator(const AppController *controller, QObject *parent)
    : QTranslator(parent)
    , m_controller(controller)
{
}

QString TrayTranslator::translate(const char *, const char *sourceText, const char *, int) const
{
    const QString source = QString::fromUtf8(sourceText);
    const QString translated = m_controller->trText(source);
    // An empty answer tells Qt to try the next translator and finally the source.
    return translated == source ? QString() : translated;
}
