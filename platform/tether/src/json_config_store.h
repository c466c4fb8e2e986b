// The ConfigStore of the interface table: text values in memory, written to
// <config>/ZuCam/config.json as a JSON object of strings at flush().
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "tether/tether.h"

namespace tq {

class JsonConfigStore final : public ConfigStore {
public:
    // Loads config.json from directory when it is there. A file that is not a
    // JSON object at all is renamed to config.json.bad and the store starts
    // empty; a member that is not a text (another kind, a damaged value such
    // as 1e400, a repeated name) is left out, its reader falls back to its
    // default, the others load, and the file is copied to config.json.bad. Either way the next flush does not destroy what may be
    // repaired by hand; an existing .bad file is kept and the next free name
    // (.bad-2 to .bad-10) taken. The logger is borrowed and must outlive the
    // store.
    JsonConfigStore(std::string directory, Logger* logger);

    // Any thread. The file is replaced by a rename, so a crash at any moment
    // leaves either the previous file or the new one, never a torn file.
    bool flush() override;
    bool setString(const char* key, const std::string& text) override;
    std::string getString(const char* key, bool* found) override;
    const char* keepString(const std::string& text) override;
    std::string filePath() const override;

private:
    void load();
    // Where a damaged file goes: config.json.bad, or the first free .bad-N.
    std::string freeAsidePath() const;
    static bool writeNewFile(const std::string& path, const std::string& text);
    std::map<std::string, std::string> snapshot() const;
    // Writes text to a fresh temporary file beside config.json, syncs it,
    // renames it over config.json and syncs the folder.
    bool replaceFile(const std::string& text);
    void logError(const std::string& message) const;

    const std::string directory_;
    const std::string filePath_;
    Logger* const logger_;

    mutable std::mutex valuesMutex_;  // guards values_
    std::map<std::string, std::string> values_;

    std::mutex keptMutex_;  // guards kept_
    // A deque never moves its elements when it grows, so the c_str() of
    // every kept text stays valid.
    std::deque<std::string> kept_;

    // Serialises flushes, so that the file on disk is always the newest
    // snapshot taken.
    std::mutex fileMutex_;
    std::atomic<unsigned> temporaryCounter_{0};
};

}  // namespace tq
