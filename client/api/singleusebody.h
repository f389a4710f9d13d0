#pragma once

#include <QByteArray>
#include <QIODevice>

namespace Api {

// A request body that can be read through once and never rewound. Qt's HTTP
// layer quietly sends a request again after some broken connections (garbage
// in place of an answer, a connection lost mid-request); with this body it
// fails the request instead, so a request that may already have created
// something on the server is never sent twice behind our back.
class SingleUseBody : public QIODevice
{
public:
    explicit SingleUseBody(const QByteArray &body, QObject *parent = nullptr);

    bool isSequential() const override { return true; }
    // Said quietly: QIODevice would warn that a sequential device cannot seek.
    bool reset() override { return false; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_body;
    qint64 m_read = 0;
};

} // namespace Api
