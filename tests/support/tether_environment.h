// A Tether of its own for one test: fresh configuration and data folders in
// a temporary directory, InitTether on construction, UninitTether on
// destruction. Tests that restart Tether in between keep the folders.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <string>

namespace zucam::test {

class TetherEnvironment {
public:
    TetherEnvironment();
    ~TetherEnvironment();
    TetherEnvironment(const TetherEnvironment&) = delete;
    TetherEnvironment& operator=(const TetherEnvironment&) = delete;

    // Ends Tether and starts it again over the same folders, as a new run of
    // the program would.
    void restart();

    QString configHome() const;  // stands for $XDG_CONFIG_HOME
    QString dataHome() const;    // stands for $XDG_DATA_HOME
    std::string configFile() const;  // what the config store flushes to

private:
    QTemporaryDir root_;
    QByteArray savedConfigHome_;
    QByteArray savedDataHome_;
};

// How often text occurs in the running Tether's log file (0 when nothing was
// logged yet); -1 when Tether does not run.
int CountInLog(const QString& text);

}  // namespace zucam::test
