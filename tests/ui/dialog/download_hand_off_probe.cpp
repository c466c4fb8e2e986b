// Stands for the program in the download's end-to-end test, with the
// updater beside it:
//   download_hand_off_probe <installer url> <save path>
//       downloads through the download dialog, which hands over to the
//       updater and quits; the exit code is the application's.
//   download_hand_off_probe
//       (as the updater starts the program again) appends "started" to
//       $ZUCAM_STANDIN_MARK.
// The test's certificate ($ZUCAM_TEST_CA) is trusted by this test program
// only, as the test process trusts it.
#include <QApplication>
#include <QFile>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <cstdio>

#include "download-dialog.h"

int main(int argc, char** argv) {
    if (argc == 1) {
        QFile mark(qEnvironmentVariable("ZUCAM_STANDIN_MARK"));
        if (!mark.open(QIODevice::Append)) return 3;
        mark.write("started\n");
        return 0;
    }
    if (argc != 3) return 2;
    QApplication app(argc, argv);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(configuration.caCertificates() +
                                    QSslCertificate::fromPath(qEnvironmentVariable("ZUCAM_TEST_CA"), QSsl::Pem));
    QSslConfiguration::setDefaultConfiguration(configuration);
    auto* dialog = new DownloadDialog(QString::fromLocal8Bit(argv[1]), nullptr, QString::fromLocal8Bit(argv[2]));
    dialog->show();
    const int code = app.exec();
    std::printf("exit %d\n", code);
    return code;
}
