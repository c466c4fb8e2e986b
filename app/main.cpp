// The entry point: brings up the socket layer, Tether and the application
// information, then runs ZuCam as the single primary instance or hands
// "show" to the one that already runs. "zucam --uninstall" only removes the
// drivers and filters and exits.
#include <QApplication>
#include <QMutex>
#include <QSet>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/system/system_info.h"
#include "core/tether/tq.h"
#include "core/tether/tq_log.h"
#include "quit_on_signal.h"
#include "vexo/gs_device.h"
#include "zucam.h"

namespace {

void uninitTetherAtExit() { tq::UninitTether(); }

// Qt repeats some of its own warnings at every repaint (the offscreen
// platform's "composeAndFlush: makeCurrent() failed" ten times a second):
// each distinct message of Qt's own categories ("qt.*") is passed on once,
// its repeats are dropped. The program's own lines all pass.
QtMessageHandler g_previousMessageHandler = nullptr;
void passEachMessageOnce(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static QMutex mutex;
    static QSet<QString> seen;
    constexpr int kRememberedMessages = 256;
    const bool qtsOwn = context.category != nullptr && std::strncmp(context.category, "qt.", 3) == 0;
    if (type != QtFatalMsg && qtsOwn) {
        QMutexLocker lock(&mutex);
        if (seen.contains(message)) return;
        if (seen.size() < kRememberedMessages) seen.insert(message);
    }
    if (g_previousMessageHandler) {
        g_previousMessageHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
    }
}

// Without a window system Qt would end the program with a page of platform
// plug-in advice; one line says what is wrong. An explicit QT_QPA_PLATFORM
// (offscreen on purpose) is left to Qt.
bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

// Handed to Tether before anything else runs; the order is the one Tether
// modules expect.
void setApplicationInformation() {
    tq::AppInfo* const appInfo = g_cd->appInfo;
    appInfo->setVersion("1.1.8");
    appInfo->setValue("channel_id", tq::Value(0), 0);
    appInfo->setBuildDate("2025.04.29");
    appInfo->setWebsite("https://www.zucam.example/");
    appInfo->setAppName("ZuCam");
    g_cd->uiValues->set("app_title", tq::Value("Zu虚拟摄像头"));
    appInfo->setValue("host", tq::Value("https://api.zucam.example/"), 0);
    appInfo->setValue("product_type", tq::Value(18000), 0);
    appInfo->setValue("release", tq::Value(true), 0);
    appInfo->setValue("theme_color", tq::Value("#009FFF"), 0);
    appInfo->setValue("user_version_check", tq::Value(true), 0);
}

}  // namespace

int main(int argc, char** argv) {
    WinsockInit winsock;
    tq::InitTether(argc, argv);
    // Registered after every static initialiser, so it runs before their
    // destructors: nothing logs into a torn-down Tether.
    std::atexit(uninitTetherAtExit);

    // "--uninstall" as the first argument: remove the drivers and filters,
    // nothing else (no application information, no render device, no
    // second-instance hand-off).
    if (argc > 1 && QString::fromLocal8Bit(argv[1]) == QLatin1String("--uninstall")) {
        // A package manager may run this without any display: then there is
        // no window system for the warning box, and the warning goes only
        // to standard error (a QApplication would abort the run).
        const bool display = qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                             qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
        std::unique_ptr<QCoreApplication> application;
        if (display) {
            application = std::make_unique<QApplication>(argc, argv);
        } else {
            application = std::make_unique<QCoreApplication>(argc, argv);
        }
        uninstallDrivers();
        return 0;
    }

    if (!hasDisplay()) {
        std::fprintf(stderr, "ZuCam: no display (DISPLAY and WAYLAND_DISPLAY are unset); start it from a desktop session\n");
        return 1;
    }
    g_previousMessageHandler = qInstallMessageHandler(passEachMessageOnce);

    setApplicationInformation();

    // Without a render device there is no picture for any output: say so and
    // fail, rather than end silently with success.
    if (!GsDevice::CreateDefaultDevice(true)) {
        std::fprintf(stderr, "ZuCam: the render device cannot be created\n");
        LOG_E("the render device cannot be created");
        return 1;
    }
    if (GsDevice* const device = GsDevice::DefaultDevice()) device->SetFrameRate(30);

    int exitCode = 0;
    {
        ZuCam app(argc, argv);
        if (app.isSecondary()) {
            app.sendMessage("show", 100);
        } else {
            QuitOnSignal quitOnSignal;
            exitCode = app.exec();
        }
    }
    // The device thread ends before the static objects it may touch.
    GsDevice::DestroyDefaultDevice();
    return exitCode;
}
