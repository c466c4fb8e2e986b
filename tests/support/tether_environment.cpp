#include "support/tether_environment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include "tether/tether.h"

namespace zucam::test {
namespace {
tq::Interface* g_environmentInterface = nullptr;
const int s_register = __Init_CD_Later__(&g_environmentInterface);
}  // namespace

TetherEnvironment::TetherEnvironment()
    : savedConfigHome_(qgetenv("XDG_CONFIG_HOME")), savedDataHome_(qgetenv("XDG_DATA_HOME")) {
    EXPECT_TRUE(root_.isValid());
    QDir(root_.path()).mkpath("config");
    QDir(root_.path()).mkpath("data");
    qputenv("XDG_CONFIG_HOME", configHome().toUtf8());
    qputenv("XDG_DATA_HOME", dataHome().toUtf8());
    tq::InitTether(0, nullptr);
}

TetherEnvironment::~TetherEnvironment() {
    tq::UninitTether();
    qputenv("XDG_CONFIG_HOME", savedConfigHome_);
    qputenv("XDG_DATA_HOME", savedDataHome_);
}

void TetherEnvironment::restart() {
    tq::UninitTether();
    tq::InitTether(0, nullptr);
}

QString TetherEnvironment::configHome() const { return root_.path() + "/config"; }
QString TetherEnvironment::dataHome() const { return root_.path() + "/data"; }

std::string TetherEnvironment::configFile() const {
    (void)s_register;
    return g_environmentInterface != nullptr ? g_environmentInterface->config->filePath() : std::string();
}

int CountInLog(const QString& text) {
    if (g_environmentInterface == nullptr) return -1;
    QFile file(QString::fromStdString(g_environmentInterface->logger->directory()) + "/zucam.log");
    if (!file.open(QIODevice::ReadOnly)) return 0;
    return static_cast<int>(QString::fromUtf8(file.readAll()).count(text));
}

}  // namespace zucam::test
