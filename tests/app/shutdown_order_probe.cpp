// A program for the shutdown-order test: ZuCam with an open virtual
// microphone and a window whose destruction notes whether the microphone had
// been released already. Exit code 0: the microphone went first; 1: the
// window went while the microphone still ran; 77: the microphone could not
// open here (no audio server), nothing was checked.
#include <QCoreApplication>
#include <QWidget>
#include <unistd.h>

#include "../devices/audio/fifo_reader.h"
#include "devices/audio/audio_device_link.h"
#include "devices/driver_install/driver_install.h"
#include "support/fake_driver_tools/fake_driver_tools.h"
#include "support/headless.h"
#include "support/tether_environment.h"
#include "zucam.h"

namespace {

class ProbeWindow : public QWidget {
public:
    explicit ProbeWindow(int* result) : result_(result) {}
    ~ProbeWindow() override {
        const ZuCam* app = zucamApp();
        *result_ = app != nullptr && app->virtualMic() == nullptr ? 0 : 1;
    }

private:
    int* result_;
};

}  // namespace

int main(int argc, char** argv) {
    zucam::test::UseHeadlessQtUnlessSet();
    zucam::test::TetherEnvironment tether;
    QCoreApplication::setApplicationName(QString("zucam-shutdown-probe-%1").arg(getpid()));
    zucam::test::FakeDriverTools tools;
    tools.setOutput("audio-x64", "find", zucam::test::FakeDriverTools::DevicesFound(1));
    SetDriverToolFolderForTesting(tools.folder());
    FifoReader link;
    if (!link.made() || !link.OpenReader()) return 77;
    SetAudioDeviceLinkPathForTesting(link.path());

    int result = 77;
    {
        ZuCam app(argc, argv);
        app.loadConfig();
        if (app.openVirtualMic(false)) app.mainWindow = new ProbeWindow(&result);
    }
    return result;
}
