// Ends the Qt event loop on SIGINT and SIGTERM, so that an interrupted or
// logged-out program still shuts down in order and saves its settings.
#pragma once

#include <QObject>

class QSocketNotifier;

class QuitOnSignal : public QObject {
    Q_OBJECT

public:
    // Installs the handlers; one instance per process, made on the GUI thread.
    explicit QuitOnSignal(QObject* parent = nullptr);
    ~QuitOnSignal() override;

private:
    // The handler only writes to a pipe; the notifier reads it on the GUI thread.
    static void onSignal(int signalNumber);
    void onPipeReadable();

    QSocketNotifier* notifier_ = nullptr;
};
