#include "json_config_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <json/json.h>
#include <json_input/json_input.h>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "local_system.h"

namespace tq {
namespace {

bool writeFully(int fileDescriptor, const std::string& text) {
    const char* data = text.data();
    size_t size = text.size();
    while (size > 0) {
        const ssize_t written = write(fileDescriptor, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool syncDirectory(const std::string& directory) {
    const int fileDescriptor = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fileDescriptor < 0) return false;
    const bool synced = fsync(fileDescriptor) == 0;
    close(fileDescriptor);
    return synced;
}

std::string errorText() { return strerror(errno); }

}  // namespace

JsonConfigStore::JsonConfigStore(std::string directory, Logger* logger)
    : directory_(std::move(directory)), filePath_(directory_ + "/config.json"), logger_(logger) {
    load();
}

void JsonConfigStore::load() {
    std::ifstream file(filePath_, std::ios::binary);
    if (!file.is_open()) return;  // first run: nothing stored yet
    std::ostringstream contents;
    contents << file.rdbuf();
    file.close();
    const std::string text = contents.str();

    std::vector<json_input::ObjectMember> members;
    std::string parseError;
    if (!json_input::ParseObjectMembers(text, &members, &parseError)) {
        // Nothing in it can be trusted: it moves aside whole, so the next
        // flush does not destroy what may be repaired by hand.
        const std::string aside = freeAsidePath();
        logError("config: " + filePath_ + " cannot be read (" + parseError + "); moved to " + aside);
        if (rename(filePath_.c_str(), aside.c_str()) != 0) logError("config: cannot move it: " + errorText());
        return;
    }
    std::map<std::string, std::string> loaded;
    std::string unreadable;
    for (const json_input::ObjectMember& member : members) {
        if (member.readable && member.value.isString() && loaded.count(member.name) == 0) {
            loaded[member.name] = member.value.asString();
        } else {
            unreadable += (unreadable.empty() ? "\"" : ", \"") + member.name + "\"";
        }
    }
    if (!unreadable.empty()) {
        // The members that are texts are kept; the others (another kind, a
        // damaged value, a second one of a name) are not loaded, so their
        // readers fall back to their defaults and the next flush no longer
        // holds them. Their original text survives in a copy.
        const std::string aside = freeAsidePath();
        logError("config: " + filePath_ + ": " + unreadable + " cannot be read as a text; left out, the file copied to " +
                 aside);
        if (!writeNewFile(aside, text)) logError("config: cannot write " + aside + ": " + errorText());
    }
    const std::lock_guard<std::mutex> lock(valuesMutex_);
    values_ = std::move(loaded);
}

std::string JsonConfigStore::freeAsidePath() const {
    // An older damaged file is never replaced: it may be the only copy of
    // what the user had. After ten of them the last name is reused.
    std::string path = filePath_ + ".bad";
    for (int n = 2; n <= 10 && access(path.c_str(), F_OK) == 0; ++n) path = filePath_ + ".bad-" + std::to_string(n);
    return path;
}

bool JsonConfigStore::writeNewFile(const std::string& path, const std::string& text) {
    const int fileDescriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fileDescriptor < 0) return false;
    const bool written = writeFully(fileDescriptor, text) && fsync(fileDescriptor) == 0;
    return close(fileDescriptor) == 0 && written;
}

bool JsonConfigStore::flush() {
    // Taken before the snapshot: of two concurrent flushes, the later
    // snapshot is the one left on disk.
    const std::lock_guard<std::mutex> lock(fileMutex_);
    Json::Value root(Json::objectValue);
    for (const auto& entry : snapshot()) root[entry.first] = entry.second;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    builder["emitUTF8"] = true;
    return replaceFile(Json::writeString(builder, root) + "\n");
}

bool JsonConfigStore::replaceFile(const std::string& text) {
    std::error_code directoryError;
    std::filesystem::create_directories(directory_, directoryError);

    const std::string temporaryPath = filePath_ + ".tmp-" + std::to_string(getpid()) + "-" +
                                      std::to_string(temporaryCounter_.fetch_add(1));
    const int fileDescriptor = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fileDescriptor < 0) {
        logError("config: cannot create " + temporaryPath + ": " + errorText());
        return false;
    }
    bool written = writeFully(fileDescriptor, text) && fsync(fileDescriptor) == 0;
    if (!written) logError("config: cannot write " + temporaryPath + ": " + errorText());
    if (close(fileDescriptor) != 0 && written) {
        written = false;
        logError("config: cannot close " + temporaryPath + ": " + errorText());
    }
    if (written && rename(temporaryPath.c_str(), filePath_.c_str()) != 0) {
        written = false;
        logError("config: cannot replace " + filePath_ + ": " + errorText());
    }
    if (!written) {
        unlink(temporaryPath.c_str());
        return false;
    }
    // Without this the rename itself may be lost in a power cut. The new file
    // is in place already, but its durability is not assured, so report it.
    if (!syncDirectory(directory_)) {
        logError("config: cannot sync " + directory_ + ": " + errorText());
        return false;
    }
    return true;
}

bool JsonConfigStore::setString(const char* key, const std::string& text) {
    const std::lock_guard<std::mutex> lock(valuesMutex_);
    values_[key != nullptr ? key : ""] = text;
    return true;
}

std::string JsonConfigStore::getString(const char* key, bool* found) {
    const std::lock_guard<std::mutex> lock(valuesMutex_);
    const auto entry = values_.find(key != nullptr ? key : "");
    const bool stored = entry != values_.end();
    if (found != nullptr) *found = stored;
    return stored ? entry->second : std::string();
}

const char* JsonConfigStore::keepString(const std::string& text) {
    const std::lock_guard<std::mutex> lock(keptMutex_);
    kept_.push_back(text);
    return kept_.back().c_str();
}

std::string JsonConfigStore::filePath() const { return filePath_; }

std::map<std::string, std::string> JsonConfigStore::snapshot() const {
    const std::lock_guard<std::mutex> lock(valuesMutex_);
    return values_;
}

void JsonConfigStore::logError(const std::string& message) const {
    if (logger_ == nullptr) return;
    logger_->log(2, "tether", "%s[E][tether] %s\n", LocalSystem::formatLocalNow("%m%d-%H:%M:%S"), message.c_str());
}

}  // namespace tq
