// Child process of the hand-off test: hands over as the download dialog does
// and quits with 0 when the updater started; 3 (and the reason) otherwise.
//   updater_hand_off_probe <program dir> <installer path> <program path>
#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

#include "updater_hand_off.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 4) return 2;
    const UpdaterHandOffResult result = HandOffToUpdater(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                                                         QCoreApplication::applicationPid(), QString::fromLocal8Bit(argv[3]));
    if (!result.started) {
        std::fprintf(stderr, "%s\n", result.error.toLocal8Bit().constData());
        return 3;
    }
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    return app.exec();
}
