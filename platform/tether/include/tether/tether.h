// Tether stand-in: the process-wide interface table, its member interfaces,
// module calls and the start and end of the library.
//
// What this stand-in does:
//  - AppInfo keeps the application information and values handed to it.
//  - Logger appends each line with one write to "<data>/ZuCam/log/zucam.log"
//    and echoes it to standard error; lines from concurrent threads never mix.
//  - ConfigStore keeps text values in memory and persists them at flush() to
//    "<config>/ZuCam/config.json" by writing a temporary file and renaming it
//    over the old one, so a crash leaves either the old or the new file.
//  - UiValues is a thread-safe key/value table.
//  - System formats the local time and opens folders with xdg-open.
//  - call() forwards to a module registered by name; the module's reply is
//    queued to the calling thread's Qt event loop, never run inside call().
// <config> is $XDG_CONFIG_HOME or ~/.config, <data> is $XDG_DATA_HOME or
// ~/.local/share, both read at InitTether.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "tether/value.h"

namespace tq {

class AppInfo {
public:
    virtual ~AppInfo() = default;
    virtual void setAppName(const char* name) = 0;
    virtual const char* appName() const = 0;
    virtual const char* version() const = 0;
    virtual void setVersion(const char* version) = 0;
    virtual void setBuildDate(const char* date) = 0;
    virtual const char* buildDate() const = 0;
    virtual void setWebsite(const char* url) = 0;
    virtual const char* website() const = 0;
    virtual void setValue(const char* key, const Value& value, int flags) = 0;
    // The value set under key, or an empty value.
    virtual Value value(const char* key) const = 0;
};

class Logger {
public:
    virtual ~Logger() = default;
    // printf-style; safe from any thread. The formatted text is written as
    // one line-sized unit, never interleaved with another thread's.
    virtual void log(int level, const char* tag, const char* format, ...)
        __attribute__((format(printf, 4, 5))) = 0;
    // The folder the log file lives in.
    virtual std::string directory() const = 0;
};

class ConfigStore {
public:
    virtual ~ConfigStore() = default;
    // Persists every text set before. Returns false when the file could not be
    // written; the previous file then stays as it was.
    virtual bool flush() = 0;
    virtual bool setString(const char* key, const std::string& text) = 0;
    // found (when given) is set true only for a stored key.
    virtual std::string getString(const char* key, bool* found) = 0;
    // A copy of the text that stays valid until UninitTether.
    virtual const char* keepString(const std::string& text) = 0;
    // The file flush() writes.
    virtual std::string filePath() const = 0;
};

class UiValues {
public:
    virtual ~UiValues() = default;
    // defaultValue when the key was never set. Safe from any thread.
    virtual Value get(const char* key, const Value& defaultValue) const = 0;
    virtual void set(const char* key, const Value& value) = 0;
};

class System {
public:
    virtual ~System() = default;
    // The local time in strftime format; the text is the calling thread's own
    // and stays valid until that thread's next call.
    virtual const char* formatNow(const char* format) = 0;
    // Shows the folder of a UTF-8 path in the desktop's file manager.
    virtual void openFileLocation(const char* path) = 0;
};

using ReplyFunction = std::function<void(const Value&)>;

class Interface {
public:
    virtual ~Interface() = default;
    // Calls command of a module loaded by name. The module may reply once, now
    // or later from any thread; onReply then runs on the thread that made the
    // call, through its Qt event loop, after call() has returned. An unknown
    // module gives an empty value and no reply. A thread without a running
    // event loop never sees its replies; a reply that arrives after the
    // calling thread or this run of Tether has ended is dropped.
    virtual Value call(const char* module, int command, const Value& param, ReplyFunction onReply) = 0;

    AppInfo* appInfo = nullptr;
    Logger* logger = nullptr;
    ConfigStore* config = nullptr;
    UiValues* uiValues = nullptr;
    System* system = nullptr;
};

// A module that Tether can load. handle() runs on the caller's thread; the
// module replies through `reply` (any thread, at most once, may be dropped).
class Module {
public:
    virtual ~Module() = default;
    virtual Value handle(int command, const Value& param, ReplyFunction reply) = 0;
};
using ModuleFactory = std::function<std::unique_ptr<Module>()>;

// Makes a module loadable by LoadModules under its library file name; the
// module is then called by moduleName. Call before LoadModules.
void RegisterModuleLibrary(const char* libraryName, const char* moduleName, ModuleFactory factory);

// Starts the library: builds the interface table and fills every pointer
// registered with __Init_CD_Later__. Returns 0; a second call does nothing.
int InitTether(int argc, char** argv);
// Clears every registered pointer, then tears the table down. Unflushed
// configuration changes are dropped, as a crash would drop them.
void UninitTether();
// Loads the modules whose library names are listed; returns how many loaded.
// Names without a registered library are skipped.
int LoadModules(const char* const* names, int count, bool required);
// Loads a module instance under moduleName without a library, as tests and
// built-in modules do. False (and the instance destroyed) when Tether is not
// running or the name is loaded already.
bool LoadModuleInstance(const char* moduleName, std::unique_ptr<Module> module);

}  // namespace tq

// Records where the interface pointer is wanted. The pointer is filled at
// InitTether (at once if Tether already runs) and cleared at UninitTether.
int __Init_CD_Later__(tq::Interface** where);
