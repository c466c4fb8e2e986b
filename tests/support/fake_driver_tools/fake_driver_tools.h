// Stand-ins for the driver tools, laid out in a temporary program folder the
// way the product ships them:
//   Drivers/audio/x64/devcon, Drivers/audio/x86/devcon   tool "audio-x64", "audio-x86"
//   Drivers/camera/devcon                                 tool "camera"
//   regsvr32                                              tool "regsvr32"
// Each is a small shell script that logs its exact arguments and prints what
// the test set for its verb: for devcon the first argument other than "/r"
// ("install", "find", "remove", "drivernodes"), for regsvr32 the first
// argument without its "/" ("i", "u"). Without a setting a run prints
// nothing and exits with 0.
//
// The scripts read their settings from the folder named by the environment
// variable ZUCAM_FAKE_DRIVER_TOOLS_DIR, set for the object's lifetime, so
// that a program started meanwhile (the real zucam, copied into folder())
// reaches them too. One thread uses an object.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace zucam::test {

class FakeDriverTools {
public:
    // folderName: a QTemporaryDir template for the program folder's name
    // (under the temporary folder), e.g. to test folders with odd characters.
    explicit FakeDriverTools(const QString& folderName = QString());
    ~FakeDriverTools();
    FakeDriverTools(const FakeDriverTools&) = delete;
    FakeDriverTools& operator=(const FakeDriverTools&) = delete;

    // The program folder holding the tools (pass it to
    // SetDriverToolFolderForTesting, or copy a program into it).
    QString folder() const { return folder_.path(); }

    void setOutput(const QString& tool, const QString& verb, const QByteArray& text);
    void setError(const QString& tool, const QString& verb, const QByteArray& text);
    void setExit(const QString& tool, const QString& verb, int code);
    void setDelay(const QString& tool, const QString& verb, double seconds);
    // Removes a tool, so that running it fails to start.
    void remove(const QString& tool);

    struct Call {
        QString tool;
        QString program;  // the path the tool was run as
        QStringList arguments;
        bool ended = false;
        int exitCode = -1;
    };
    // Every run so far, in start order.
    std::vector<Call> calls() const;
    // The runs of one tool: each as "[arg][arg]...".
    QStringList callsOf(const QString& tool) const;

    // devcon's real output shapes.
    static QByteArray DevicesFound(int count);  // "<n> matching device(s) found."
    static QByteArray NoDevicesFound();         // "No matching devices found."
    static QByteArray InstalledSuccessfully();  // "Drivers installed successfully."

private:
    void write(const QString& name, const QByteArray& bytes) const;
    QString toolPath(const QString& tool) const;

    QTemporaryDir folder_;  // the program folder
    QTemporaryDir data_;    // settings and the log
    bool hadVariable_ = false;
    QByteArray savedVariable_;
};

}  // namespace zucam::test
