#include "tether_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

namespace tq {
namespace {

std::string homeDirectory() {
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] == '/') return home;
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/tmp";
}

std::string absoluteOr(const char* variable, const char* fallbackBelowHome) {
    const char* value = getenv(variable);
    if (value != nullptr && value[0] == '/') return value;
    return homeDirectory() + fallbackBelowHome;
}

}  // namespace

TetherFolders::TetherFolders(std::string configHome, std::string dataHome)
    : configHome_(std::move(configHome)), dataHome_(std::move(dataHome)) {}

TetherFolders TetherFolders::fromEnvironment() {
    return TetherFolders(absoluteOr("XDG_CONFIG_HOME", "/.config"), absoluteOr("XDG_DATA_HOME", "/.local/share"));
}

std::string TetherFolders::configDirectory() const { return configHome_ + "/ZuCam"; }

std::string TetherFolders::logDirectory() const { return dataHome_ + "/ZuCam/log"; }

}  // namespace tq
