#include "connectivityprobe.h"

#include "model/connectionrules.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <vector>

namespace ConnectivityProbe {

QString nullDevice()
{
#ifdef Q_OS_WIN
    return QStringLiteral("NUL");
#else
    return QStringLiteral("/dev/null");
#endif
}

bool probeConnectivity(const QStringList &targets, int required, int percent, int timeoutMs, const Log &log)
{
    log(QStringLiteral("Connectivity probe started: urls=%1 required=%2 threshold=%3% timeout=%4ms\n")
            .arg(targets.size())
            .arg(required)
            .arg(percent)
            .arg(timeoutMs));

    QNetworkAccessManager network;
    // No proxy: the requests take the system route, which is the tunnel.
    network.setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
    QEventLoop loop;
    int pending = int(targets.size());
    int successes = 0;
    std::vector<QPointer<QNetworkReply>> replies;
    for (const QString &target : targets) {
        QNetworkRequest request{QUrl(target)};
        request.setHeader(QNetworkRequest::UserAgentHeader,
            QStringLiteral("岚舟 Desktop Connectivity Probe")); // i18n-exempt: protocol value
        request.setRawHeader("Cache-Control", "no-cache");
        request.setTransferTimeout(timeoutMs);
        QNetworkReply *reply = network.get(request);
        replies.emplace_back(reply);
        QObject::connect(reply, &QNetworkReply::finished, &loop, [&, reply, target] {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            const bool ok = reply->error() == QNetworkReply::NoError && status >= 200 && status <= 399;
            if (ok)
                ++successes;
            log(QStringLiteral("Connectivity probe %1: %2 status=%3 error=%4 (%5/%6 success)\n")
                    .arg(ok ? QStringLiteral("OK") : QStringLiteral("FAIL"), target)
                    .arg(status)
                    .arg(reply->error() == QNetworkReply::NoError ? QStringLiteral("none") : reply->errorString())
                    .arg(successes)
                    .arg(targets.size()));
            if (--pending == 0)
                loop.quit();
        });
    }
    if (pending > 0) {
        QTimer::singleShot(timeoutMs + 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    for (const QPointer<QNetworkReply> &reply : replies) {
        if (!reply)
            continue;
        reply->disconnect(&loop);
        if (reply->isRunning())
            reply->abort();
        delete reply;
    }

    if (successes >= required) {
        log(QStringLiteral("Connectivity probe passed through Qt network stack: %1/%2.\n")
                .arg(successes)
                .arg(targets.size()));
        return true;
    }
    log(QStringLiteral("Connectivity probe below threshold through Qt network stack: %1/%2, trying system curl "
                       "fallback.\n")
            .arg(successes)
            .arg(targets.size()));
    return probeConnectivityWithSystemCurl(targets, required, timeoutMs, log);
}

bool probeConnectivityWithSystemCurl(const QStringList &targets, int required, int timeoutMs, const Log &log)
{
    const int seconds = ConnectionRules::curlProbeSeconds(timeoutMs);
    struct Probe
    {
        QString url;
        std::unique_ptr<QProcess> process;
        bool finished = false;
    };
    std::vector<Probe> probes;
    probes.reserve(targets.size());
    QEventLoop loop;
    int pending = 0;
    int successes = 0;
    const auto total = targets.size();
    for (const QString &target : targets) {
        probes.push_back(Probe{target, std::make_unique<QProcess>(), false});
        Probe &probe = probes.back();
        QProcess *process = probe.process.get();
        process->setProcessChannelMode(QProcess::SeparateChannels);
        ++pending;
        auto done = [&, process, index = probes.size() - 1] {
            Probe &entry = probes[index];
            if (entry.finished)
                return;
            entry.finished = true;
            const int exitCode = process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
            const int status = ConnectionRules::curlProbeStatus(process->readAllStandardOutput());
            const QString error = QString::fromLocal8Bit(process->readAllStandardError()).trimmed();
            const bool ok = exitCode == 0 && status >= 200 && status <= 399;
            if (ok)
                ++successes;
            log(QStringLiteral("Connectivity curl fallback %1: %2 %3 (%4/%5 success)\n")
                    .arg(ok ? QStringLiteral("OK") : QStringLiteral("FAIL"), entry.url,
                        QStringLiteral("status=%1 exit=%2%3")
                            .arg(status)
                            .arg(exitCode)
                            .arg(error.isEmpty() ? QString() : QStringLiteral(" error=%1").arg(error)))
                    .arg(successes)
                    .arg(total));
            if (--pending == 0)
                loop.quit();
        };
        QObject::connect(process, &QProcess::finished, &loop, done);
        QObject::connect(process, &QProcess::errorOccurred, &loop, [done](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                done();
        });
        process->start(QStringLiteral("curl"),
            ConnectionRules::curlProbeArguments(target, seconds, nullDevice()), QIODevice::ReadOnly);
    }
    if (pending > 0) {
        QTimer::singleShot(timeoutMs + 1500, &loop, &QEventLoop::quit);
        loop.exec();
    }
    for (Probe &probe : probes) {
        probe.process->disconnect(&loop);
        if (probe.finished)
            continue;
        probe.process->kill();
        probe.process->waitForFinished(500);
        log(QStringLiteral("Connectivity curl fallback FAIL: %1 timeout (%2/%3 success)\n")
                .arg(probe.url)
                .arg(successes)
                .arg(total));
    }

    if (successes >= required) {
        log(QStringLiteral("Connectivity probe passed through system curl fallback.\n"));
        return true;
    }
    log(QStringLiteral("Connectivity probe failed after Qt and curl fallback: %1/%2 required.\n")
            .arg(successes)
            .arg(required));
    return false;
}

} // namespace ConnectivityProbe
