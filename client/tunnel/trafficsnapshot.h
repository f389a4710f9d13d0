#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QStringList>

// Readings that tell whether traffic flows through the tunnel: a snapshot file
// a tunnel extension may leave, the engine's control API "/traffic" stream,
// and the interface counters. Every reader answers the all-zero record when it
// finds nothing; none of them fails loudly.
struct RuntimeTrafficSnapshot
{
    bool found = false;
    bool trafficAvailable = false;
    bool statusClientConnected = false;
    qint64 uplink = 0;
    qint64 downlink = 0;
    qint64 uplinkTotal = 0;
    qint64 downlinkTotal = 0;
    qint64 timestamp = 0; // seconds since the epoch

    // At most five seconds old at nowSeconds.
    bool isFresh(qint64 nowSeconds) const;
    // Fresh, and the source reports traffic or counted any.
    bool trafficSeen(qint64 nowSeconds) const;
};

namespace TrafficSnapshot {

// The five places a snapshot file may be, in the order they are read.
QStringList desktopTrafficSnapshotPaths();

RuntimeTrafficSnapshot readRuntimeTrafficSnapshot();
// Blocks in a nested event loop for at most timeoutMs (other events run meanwhile).
RuntimeTrafficSnapshot readClashTrafficSnapshot(const QByteArray &engineConfig, int timeoutMs);
RuntimeTrafficSnapshot readWindowsInterfaceTrafficSnapshot();

// The first non-empty object of a JSON text, newline-delimited JSON or "data:" lines.
QJsonObject firstTrafficJsonObject(const QByteArray &buffer);
// Whether an object read from "/traffic" is a reading: numeric "up" and
// "down" (an error body such as {"message":"Unauthorized"} is not).
bool isTrafficReading(const QJsonObject &object);
// The first usable key's value as a count, at least 0.
qint64 jsonByteCountValue(const QJsonObject &object, const QStringList &keys);

// Rates from two interface samples: bytes per second, 0 when the previous
// sample is missing, stale (over 5 s) or from the future, or a counter fell.
struct InterfaceSample
{
    qint64 timestampMs = 0;
    unsigned long long inOctets = 0;
    unsigned long long outOctets = 0;
};
void interfaceRates(const InterfaceSample *previous, const InterfaceSample &now, qint64 *downlink, qint64 *uplink);

} // namespace TrafficSnapshot
