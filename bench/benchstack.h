#pragma once

// The local stack the connect, traffic and window benchmarks run against: the
// development backend, the service programs in user mode and the stand-in
// engine, with the client's environment pointed at them.
#include "devserver/devserverrunner.h"
#include "serviceinstall.h"
#include "testenvironment.h"

#include <cstdio>

namespace Bench {

struct LocalStack
{
    TestEnvironment env;
    DevServerRunner server;
    ServiceInstall install {env.path(QStringLiteral("install")), true};

    // False, with a line on stderr naming the benchmark, when a part did not start.
    bool start(const char *bench)
    {
        if (!server.isRunning() || !install.isValid()) {
            std::fprintf(stderr, "%s: local stack did not start\n", bench);
            return false;
        }
        qputenv("TARN_SINGBOX_BINARY", QUILLET_FAKE_ENGINE_PROGRAM);
        qputenv("QUILLET_SERVICECTL", install.servicectl().toLocal8Bit());
        qputenv("QUILLET_SERVICECTL_MODE", "user");
        qputenv("TARN_API_BASE_URL", server.baseUrl().toUtf8());
        return true;
    }
};

} // namespace Bench
