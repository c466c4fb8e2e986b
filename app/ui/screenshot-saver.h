// Screenshots of the composed picture: the oldest frame of the screenshot
// cache saved as a PNG in the output folder, off the GUI thread.
//
// SaveScreenShot is the whole save, synchronous, for any thread.
// ScreenShotSaver runs it on the global thread pool, hands each outcome back
// through its Finished signal and keeps count of the saves still running so
// that the owner of the cache can wait for them before it frees the cache.
#pragma once

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class StreamVideoSinkCache;

namespace screenshot {

// The outcome of one save: the file's path on success; otherwise an empty
// path and the text to show (an empty text: the save itself failed).
struct Outcome {
    QString path;
    QString error;
};

// The shot's path: the folder, one "/" (none added when the folder ends with
// one) and "ZuCam_shot[<stamp>].png".
QString ShotPath(const QString& folder, const QString& stamp);

// Proves that files can be made beside `path` with a probe file of its own:
// ProbeWrite(path + ".txt"), so when a file of that name is already there
// the next free name of path + ".txt.<n>" is used. The probe is only ever
// created new (a file that exists is never opened, truncated or removed),
// holds "test", and is removed again whatever the outcome.
bool ProbeWritable(const QString& path);

// Checks in order: the folder exists (a directory), the cache holds a
// picture, the folder takes a probe file; then writes the PNG through a
// temporary file that is renamed into place only when the whole picture was
// written (a failed save leaves no partial file and is reported as a
// failure). The temporary file is always created new and follows no link;
// the rename replaces whatever name is at the path (a planted link is
// replaced, its target never written). stamp is the time stamp of the file
// name.
Outcome SaveScreenShot(StreamVideoSinkCache* cache, const QString& folder, const QString& stamp);

// The local time as "%Y%m%d%H%M%S" through Tether's clock (the calling
// thread's own text), or Qt's when Tether is not running.
QString NowStamp();

}  // namespace screenshot

class ScreenShotSaver : public QObject {
    Q_OBJECT

public:
    using StampSource = std::function<QString()>;

    // stamp: where file names get their time stamp (any thread; the default
    // is screenshot::NowStamp).
    explicit ScreenShotSaver(QObject* parent = nullptr, StampSource stamp = StampSource());
    // Waits for the saves still running.
    ~ScreenShotSaver() override;

    // GUI thread. Starts one save of cache's picture into folder (both read
    // now, on the caller's thread). The cache is borrowed and must outlive
    // the save: free it only after WaitForPending. A null cache starts
    // nothing and reports nothing.
    void Start(StreamVideoSinkCache* cache, const QString& folder);
    // GUI thread. Returns when every started save has finished; their
    // Finished signals may still be queued.
    void WaitForPending();
    // GUI thread. Saves started and not yet finished.
    int pending();

signals:
    // Emitted from the pool thread once per started save; a receiver on the
    // GUI thread gets it queued.
    void Finished(QString path, QString error);

private:
    StampSource stamp_;
    QList<QFuture<void>> running_;  // GUI thread only
};
