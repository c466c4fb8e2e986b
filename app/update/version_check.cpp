#include "version_check.h"

#include <json/value.h>
#include <json_input/json_input.h>

#include <QStringList>
#include <regex>

#include "core/tether/tq_config.h"
#include "core/tether/tq_log.h"

namespace {

// Decimal digits to a number no larger than limit.
bool toBounded(const std::string& digits, uint64_t limit, uint64_t* value) {
    uint64_t result = 0;
    for (const char c : digits) {
        result = result * 10 + uint64_t(c - '0');
        if (result > limit) return false;
    }
    *value = result;
    return true;
}

// A member as text: only a JSON string counts; anything else is empty.
std::string textMember(const Json::Value& object, const char* name) {
    const Json::Value* const member = json_input::FindMember(object, name);
    return member != nullptr && member->isString() ? member->asString() : std::string();
}

QString utf8(const std::string& text) { return QString::fromUtf8(text.c_str(), int(text.size())); }

}  // namespace

bool ParseVersion(const std::string& text, uint64_t* number) {
    static const std::regex pattern("^(\\d+)\\.(\\d+)\\.(\\d+)");
    std::smatch match;
    if (!std::regex_search(text, match, pattern)) return false;
    uint64_t major = 0, minor = 0, patch = 0;
    if (!toBounded(match[1].str(), 0xffffffffULL, &major) || !toBounded(match[2].str(), 0xffff, &minor) ||
        !toBounded(match[3].str(), 0xffff, &patch)) {
        return false;
    }
    *number = (major << 32) + (minor << 16) + patch;
    return true;
}

VersionCheck::VersionCheck(tq::ConfigStore* config, UpdatePrompter* prompter, Clock clock)
    : config_(config), prompter_(prompter), clock_(std::move(clock)) {}

void VersionCheck::HandleReply(const tq::Value& reply, bool manual) {
    const tq::ValueMap map = reply.toMap();
    if (!map.contains("errcode") || map["errcode"].toInt(-1) != 0) {
        LOG_W("version check: no answer from the host (errcode %d): %s", map["errcode"].toInt(-1),
              map["error"].toStdString().c_str());
        if (manual) prompter_->ShowCheckFailed();
        return;
    }
    // Members other than the texts we need (an object under "configs", a
    // "result" that is not an object) end nothing.
    Json::Value result;
    if (!json_input::Parse(map["result"].toStdString(), &result) || !result.isObject()) {
        result = Json::Value(Json::objectValue);
    }
    const std::string appVersion = textMember(result, "app_version");
    const std::string currentVersion = textMember(result, "current_version");
    const std::string downloadUrl = textMember(result, "download_url");
    const std::string brief = textMember(result, "update_brief");

    uint64_t installed = 0, current = 0;
    if (!ParseVersion(appVersion, &installed) || !ParseVersion(currentVersion, &current)) {
        if (manual) {
            prompter_->ShowVersionError();
        } else {
            LOG_E("Error for check version, app version: %s, new version: %s\n", appVersion.c_str(),
                  currentVersion.c_str());
        }
        return;
    }
    if (current <= installed) {
        if (manual) prompter_->ShowUpToDate(utf8(appVersion));
        return;
    }

    bool found = false;
    const std::string ignoredText = config_->getString("ignore_versions", &found);
    if (!found) config_->setString("ignore_versions", std::string());
    QStringList ignored = utf8(ignoredText).split('|', Qt::KeepEmptyParts);

    if (!manual) {
        const int64_t now = clock_();
        const int64_t postponedAt = tq::GetConfig<int64_t>(config_, "last_show_new_version_time_sec", 0, true);
        if (now <= postponedAt || now - postponedAt < kHoldBackSeconds) return;
        if (ignored.contains(utf8(currentVersion))) return;
    }

    const int answer = prompter_->OfferUpdate(utf8(appVersion), utf8(currentVersion), utf8(brief));
    if (answer == 1) {
        prompter_->StartDownload(utf8(downloadUrl));
    } else if (answer == 2) {
        ignored.append(utf8(currentVersion));
        ignored.removeAll(QString());
        tq::SetConfigText(config_, "ignore_versions", ignored.join('|').toUtf8().constData());
        config_->flush();
    } else if (answer == 0 && !manual) {
        tq::SetConfig<int64_t>(config_, "last_show_new_version_time_sec", clock_());
        config_->flush();
    }
}
