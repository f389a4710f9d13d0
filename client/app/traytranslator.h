#pragma once

#include <QTranslator>

class AppController;

// Routes QObject::tr through the client's own translation tables, so the
// tray menu follows the language chosen in the window.
class TrayTranslator : public QTranslator
{
public:
    explicit TrayTranslator(const AppController *controller, QObject *parent = nullptr);

    QString translate(const char *context, const char *sourceText, const char *disambiguation = nullptr,
                      int n = -1) const override;
    bool isEmpty() const override { return false; }

private:
    const AppController *m_controller;
};
