#include "trevane/version_info.h"

#include <json/value.h>
#include <json/writer.h>
#include <json_input/json_input.h>

#include <QUrl>
#include <QThreadPool>

namespace trevane {
namespace {

tq::Value failure(tq::Logger* logger, const std::string& why) {
    if (logger != nullptr) logger->log(3, "trevane", "[W][trevane] version check failed: %s\n", why.c_str());
    tq::ValueMap map;
    map["errcode"] = tq::Value(kVersionInfoFailed);
    map["result"] = tq::Value(std::string());
    map["error"] = tq::Value(why);
    return tq::Value(map);
}

std::string percentEncoded(const std::string& text) {
    return QUrl::toPercentEncoding(QString::fromUtf8(text.c_str())).toStdString();
}

}  // namespace

Zu_Client::ZuTransferLimits VersionInfoLimits() {
    Zu_Client::ZuTransferLimits limits;
    limits.maxBytes = 64 * 1024;
    limits.totalTimeoutMs = 10000;
    return limits;
}

VersionQuery VersionQueryFromAppInfo(const tq::AppInfo& appInfo) {
    VersionQuery query;
    query.host = appInfo.value("host").toStdString();
    query.appVersion = appInfo.version() != nullptr ? appInfo.version() : "";
    query.productType = appInfo.value("product_type").toInt();
    query.channelId = appInfo.value("channel_id").toInt();
    return query;
}

std::string VersionQueryUrl(const VersionQuery& query) {
    std::string host = query.host;
    if (host.empty() || host.back() != '/') host += '/';
    return host + "version/check?product_type=" + std::to_string(query.productType) +
           "&channel_id=" + std::to_string(query.channelId) + "&version=" + percentEncoded(query.appVersion);
}

tq::Value FetchVersionInfo(const VersionQuery& query, const Zu_Client::ZuTransferLimits& limits,
                           tq::Logger* logger) {
    const Zu_Client::ZuResponse response = Zu_Client::ZuNet::get(VersionQueryUrl(query), limits);
    if (response.statusCode != 200) {
        return failure(logger, "status " + std::to_string(response.statusCode) + " " + response.error);
    }
    Json::Value answer;
    if (!json_input::Parse(response.body, &answer) || !answer.isObject() || !answer["errcode"].isInt() ||
        !(answer["result"].isObject() || answer["result"].isNull())) {
        return failure(logger, "the host's answer is not a version reply");
    }
    Json::Value result = answer["result"].isObject() ? answer["result"] : Json::Value(Json::objectValue);
    if (!result.isMember("app_version")) result["app_version"] = query.appVersion;
    tq::ValueMap map;
    map["errcode"] = tq::Value(answer["errcode"].asInt());
    map["result"] = tq::Value(Json::FastWriter().write(result));
    return tq::Value(map);
}

void StartVersionInfoRequest(const VersionQuery& query, tq::ReplyFunction reply) {
    // The global pool is waited for when the application ends; the reply
    // route drops an answer that comes after Tether ended. No logger here:
    // it may be gone before the answer comes, so the reason travels in the
    // reply's "error" member.
    QThreadPool::globalInstance()->start(
        [query, reply] { reply(FetchVersionInfo(query, VersionInfoLimits(), nullptr)); });
}

tq::Value VersionInfoModule::handle(int command, const tq::Value&, tq::ReplyFunction reply) {
    if (command == kVersionInfoCommand) StartVersionInfoRequest(VersionQueryFromAppInfo(*appInfo_), std::move(reply));
    return tq::Value();
}

}  // namespace trevane
