// Where Tether keeps its files: the XDG configuration and data homes, read
// from the environment when Tether starts.
#pragma once

#include <string>

namespace tq {

class TetherFolders {
public:
    // $XDG_CONFIG_HOME (else ~/.config) and $XDG_DATA_HOME (else
    // ~/.local/share); a relative or empty value counts as unset.
    static TetherFolders fromEnvironment();

    // <config>/ZuCam: holds config.json.
    std::string configDirectory() const;
    // <data>/ZuCam/log: holds zucam.log.
    std::string logDirectory() const;

private:
    TetherFolders(std::string configHome, std::string dataHome);

    std::string configHome_;
    std::string dataHome_;
};

}  // namespace tq
