#include "adb/adb_process.h"

#include <QMutex>
#include <QMutexLocker>

#include "adb/adb_process_impl.h"

namespace qsc {

namespace {
// Guards g_adbPath: both hubs' threads run adb.
QMutex g_adbPathMutex;
QString g_adbPath;
}  // namespace

AdbProcess::AdbProcess(QObject* parent) : QObject(parent), impl_(new AdbProcessImpl) {
    connect(impl_, &AdbProcessImpl::adbProcessImplResult, this,
            [this](int result) { emit adbProcessResult(static_cast<ADB_EXEC_RESULT>(result)); });
}

AdbProcess::~AdbProcess() {
    impl_->disconnect(this);
    // The impl's destructor ends a run that still goes.
    impl_->deleteLater();
}

void AdbProcess::setAdbPath(const QString& path) {
    QMutexLocker lock(&g_adbPathMutex);
    g_adbPath = path;
}

QString AdbProcess::adbPath() {
    QMutexLocker lock(&g_adbPathMutex);
    return g_adbPath.isEmpty() ? QStringLiteral("adb") : g_adbPath;
}

void AdbProcess::execute(const QString& serial, const QStringList& args) {
    QStringList all;
    if (!serial.isEmpty()) all << QStringLiteral("-s") << serial;
    all << args;
    impl_->run(adbPath(), all, timeoutMs_);
}

void AdbProcess::reverse(const QString& serial, quint16 devicePort, quint16 localPort) {
    execute(serial, {QStringLiteral("reverse"), QStringLiteral("tcp:%1").arg(devicePort),
                     QStringLiteral("tcp:%1").arg(localPort)});
}

void AdbProcess::reverseRemove(const QString& serial, quint16 devicePort) {
    execute(serial, {QStringLiteral("reverse"), QStringLiteral("--remove"), QStringLiteral("tcp:%1").arg(devicePort)});
}

void AdbProcess::reverseRemoveAll(const QString& serial) {
    execute(serial, {QStringLiteral("reverse"), QStringLiteral("--remove-all")});
}

void AdbProcess::forward(const QString& serial, quint16 localPort, const QString& deviceSocketName) {
    execute(serial, {QStringLiteral("forward"), QStringLiteral("tcp:%1").arg(localPort),
                     QStringLiteral("localabstract:%1").arg(deviceSocketName)});
}

void AdbProcess::forwardRemove(const QString& serial, quint16 localPort) {
    execute(serial, {QStringLiteral("forward"), QStringLiteral("--remove"), QStringLiteral("tcp:%1").arg(localPort)});
}

bool AdbProcess::isRuning() const { return impl_->state() != QProcess::NotRunning; }

QStringList AdbProcess::arguments() const { return impl_->arguments(); }

QString AdbProcess::getStdOut() const { return impl_->standardOutputText(); }

QString AdbProcess::getErrorOut() const { return impl_->standardErrorText(); }

}  // namespace qsc
