// A SingleApplication that reports on stdout what happens to it, one line per
// event, flushed at once, for the tests that run several instances.
//
//   --name <salt>        application name; keeps test runs apart
//   --send <text>        as a secondary: send text to the primary, then exit
//   --deny-secondary     secondaries not allowed (otherwise the program's
//                        own arguments: allowed, options 7, 1000 ms)
//   --exit-after-ms <n>  give up after n ms (default 30000) so that a probe
//                        a test forgets never lingers
//
// A primary runs until its stdin reads "quit" or reaches end-of-file.
// Lines: "server <name>", "primary" or "secondary <n>", "instanceStarted",
// "received <id> <text>", "sent" or "send failed".
#include "core/single_application/single_application.h"
#include "core/single_application/single_application_wrapper.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace {

struct ProbeOptions {
    QString name = QStringLiteral("single_instance_probe");
    QByteArray send;
    bool hasSend = false;
    bool denySecondary = false;
    int exitAfterMs = 30000;
};

ProbeOptions parseOptions(const int argc, char** const argv) {
    ProbeOptions parsed;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--name") == 0 && hasValue) {
            parsed.name = QString::fromLocal8Bit(argv[++i]);
        } else if (std::strcmp(argv[i], "--send") == 0 && hasValue) {
            parsed.send = QByteArray(argv[++i]);
            parsed.hasSend = true;
        } else if (std::strcmp(argv[i], "--deny-secondary") == 0) {
            parsed.denySecondary = true;
        } else if (std::strcmp(argv[i], "--exit-after-ms") == 0 && hasValue) {
            parsed.exitAfterMs = QByteArray(argv[++i]).toInt();
        }
    }
    return parsed;
}

void say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const ProbeOptions probe = parseOptions(argc, argv);
    // The name enters the block name; it must be set before construction.
    QCoreApplication::setApplicationName(probe.name);

    std::unique_ptr<SingleApplication> app;
    if (probe.denySecondary) {
        app = std::make_unique<SingleApplication>(argc, argv, false, SingleApplicationWrapper::kOptions,
                                                  SingleApplicationWrapper::kTimeoutMs);
    } else {
        app = std::make_unique<SingleApplicationWrapper>(argc, argv);
    }

    say("server " + app->blockServerName().toLatin1());
    if (app->isSecondary()) {
        say("secondary " + QByteArray::number(app->instanceId()));
        if (probe.hasSend) {
            say(app->sendMessage(probe.send, 3000) ? "sent" : "send failed");
        }
        return 0;
    }
    say("primary");

    QObject::connect(app.get(), &SingleApplication::instanceStarted, [] { say("instanceStarted"); });
    QObject::connect(app.get(), &SingleApplication::receivedMessage,
                     [](const quint32 id, const QByteArray& message) {
                         say("received " + QByteArray::number(id) + ' ' + message);
                     });

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&input] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0 || QByteArray(buffer, static_cast<int>(got)).contains("quit")) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });
    QTimer::singleShot(probe.exitAfterMs, [] {
        say("gave up");
        QCoreApplication::quit();
    });

    return app->exec();
}
