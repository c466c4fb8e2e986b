// The installer download on a thread of its own, reporting to the download
// dialog by queued calls of its slots by name: "OnDownloadProgress"(int),
// "OnDownloadCompleted"(QString), "OnDownloadError"().
//
// The dialog must outlive the thread's calls: it cancels and waits for the
// thread before it goes (a cancel is seen within about 100 ms). The thread
// deletes itself when it has finished.
#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>

class DowloadThread : public QThread {
    Q_OBJECT

public:
    DowloadThread(QObject* dialog, const QString& url, const QString& savePath);

    // Any thread. The download stops at its next progress report and no
    // result call is made after that.
    void Cancel() { cancelled_ = true; }
    bool IsCancelled() const { return cancelled_; }

    // The progress callback handed to tqnet; user is the thread.
    static int OnProgress(void* user, double progress);

protected:
    void run() override;

private:
    std::atomic<bool> cancelled_{false};  // written by the GUI thread, read by the download
    QObject* const dialog_;
    const QString url_;
    const QString savePath_;
    int lastPercent_ = -1;  // download thread only
};
