#include <QSslCertificate>
#include <QSslConfiguration>

#include "support/http/scripted_http_server.h"

namespace zucam::test {

bool TrustTestCertificate() {
    const TestCertificate& certificate = TestTlsCertificate();
    if (certificate.certificatePath.empty()) return false;
    const QList<QSslCertificate> added =
        QSslCertificate::fromPath(QString::fromStdString(certificate.certificatePath), QSsl::Pem);
    if (added.isEmpty()) return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> authorities = configuration.caCertificates();
    if (!authorities.contains(added.first())) authorities << added;
    configuration.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

}  // namespace zucam::test
