// Command 311 of the Trevane module: version information from the
// application's web host, asked over HTTP.
//
// What it does: GET <host>version/check?product_type=<n>&channel_id=<n>&version=<v>
// (host, product type, channel and version from Tether's application
// information), at most 64 KiB within 10 s. The host answers a JSON object
// {"errcode": n, "result": {...}}; the reply handed back is a map with
// "errcode" (0 success) and "result", the result object as JSON text, with
// "app_version" filled in from the running version when the host left it
// out. A host that cannot be reached, is too slow, sends too much or sends
// anything but that object gives errcode -1 and the reason in "error" (the
// caller logs it); no dialog. What it does not do: retries, caching, signatures on the reply.
#pragma once

#include <string>

#include "tether/tether.h"
#include "tqnet/zu_net.h"

namespace trevane {

constexpr int kVersionInfoCommand = 311;
constexpr int kVersionInfoFailed = -1;

struct VersionQuery {
    std::string host;        // ends with "/" or gets one
    std::string appVersion;
    int productType = 0;
    int channelId = 0;
};

// The query from the running Tether's application information.
VersionQuery VersionQueryFromAppInfo(const tq::AppInfo& appInfo);
std::string VersionQueryUrl(const VersionQuery& query);

// Blocking. logger may be null.
tq::Value FetchVersionInfo(const VersionQuery& query, const Zu_Client::ZuTransferLimits& limits,
                           tq::Logger* logger);

// Runs FetchVersionInfo on a pool thread and replies from there.
void StartVersionInfoRequest(const VersionQuery& query, tq::ReplyFunction reply);

// Stands for the Trevane module until that module's own command 311 calls
// StartVersionInfoRequest: answers 311 only.
class VersionInfoModule : public tq::Module {
public:
    explicit VersionInfoModule(tq::AppInfo* appInfo) : appInfo_(appInfo) {}
    tq::Value handle(int command, const tq::Value& param, tq::ReplyFunction reply) override;

private:
    tq::AppInfo* appInfo_;
};

// Default limits of the version request.
Zu_Client::ZuTransferLimits VersionInfoLimits();

}  // namespace trevane
