#include "quit_on_signal.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace {
int s_pipe[2] = {-1, -1};
}  // namespace

QuitOnSignal::QuitOnSignal(QObject* parent) : QObject(parent) {
    if (pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitOnSignal::onPipeReadable);

    struct sigaction action {};
    action.sa_handler = &QuitOnSignal::onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

QuitOnSignal::~QuitOnSignal() {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    if (s_pipe[0] >= 0) {
        close(s_pipe[0]);
        close(s_pipe[1]);
        s_pipe[0] = s_pipe[1] = -1;
    }
}

void QuitOnSignal::onSignal(int signalNumber) {
    const char byte = static_cast<char>(signalNumber);
    [[maybe_unused]] const ssize_t written = write(s_pipe[1], &byte, 1);
}

void QuitOnSignal::onPipeReadable() {
    char bytes[16];
    while (read(s_pipe[0], bytes, sizeof bytes) > 0) {
    }
    QCoreApplication::quit();
}
