// The decision behind the version check: the reply of Trevane's command 311
// is read, the two versions compared, and an update offered, held back or
// dropped. Dialogs stay behind UpdatePrompter, the time behind a clock, so
// the rules can be tested on their own.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <string>

#include "tether/tether.h"

// (major << 32) + (minor << 16) + patch from the numbers opening text
// ("^(\d+)\.(\d+)\.(\d+)", anything may follow). False without a match or
// when a number does not fit its field (major 32 bits, minor and patch 16).
bool ParseVersion(const std::string& text, uint64_t* number);

class UpdatePrompter {
public:
    virtual ~UpdatePrompter() = default;
    virtual void ShowVersionError() = 0;                        // manual: "版本错误"
    virtual void ShowUpToDate(const QString& appVersion) = 0;   // manual: no newer version
    virtual void ShowCheckFailed() = 0;                         // manual: the host gave no answer
    // 1 update, 2 skip this version, 0 later or closed.
    virtual int OfferUpdate(const QString& appVersion, const QString& newVersion, const QString& brief) = 0;
    virtual void StartDownload(const QString& url) = 0;
};

class VersionCheck {
public:
    static constexpr int64_t kHoldBackSeconds = 259200;  // three days after "later"
    using Clock = std::function<int64_t()>;               // seconds since 1970 UTC

    VersionCheck(tq::ConfigStore* config, UpdatePrompter* prompter, Clock clock);
    // GUI thread. manual: the user asked (from the settings dialog).
    void HandleReply(const tq::Value& reply, bool manual);

private:
    tq::ConfigStore* config_;
    UpdatePrompter* prompter_;
    Clock clock_;
};
