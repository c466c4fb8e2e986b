// Records the hub's signals on the test's thread (queued from the hub's
// thread) and waits for them with a time-out, running the event loop.
#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>
#include <vector>

class StreamManager;

namespace zucam::test {

struct RecordedSignal {
    QString name;
    QVariantList args;
};

class SignalRecorder : public QObject {
    Q_OBJECT

public:
    explicit SignalRecorder(StreamManager* hub);

    // Runs the event loop until a signal of that name has been recorded (at
    // least `count` of them), or the time-out passes.
    bool waitFor(const QString& name, int timeoutMs = 5000, int count = 1);
    // Runs the event loop for a while, to see that nothing more arrives.
    void settle(int ms);
    int count(const QString& name) const;
    // The arguments of the last recorded signal of that name.
    QVariantList last(const QString& name) const;
    const std::vector<RecordedSignal>& all() const { return signals_; }

private:
    void record(const QString& name, QVariantList args);

    std::vector<RecordedSignal> signals_;
};

}  // namespace zucam::test
