// Stand-in for the Trevane module that Tether loads from "Trevane59_vs.dll".
//
// Command 100 ("frame this dialog", the parameter a pointer to the dialog's
// QWidget, handed over on the dialog's own thread) is accepted and counted,
// and from then on the dialog's header moves it (dialog_header.h). The
// module draws no decoration of its own: the dialog keeps the look the
// program gives it.
// Every other command (311, the version check, among them) is answered with
// a reply {"errcode": -1, "errmsg": "unknown command <n>"} and an empty
// result, so a caller waiting for a reply is never left hanging.
#pragma once

#include <atomic>

#include "tether/tether.h"

namespace trevane {

constexpr const char* kLibraryName = "Trevane59_vs.dll";
constexpr const char* kModuleName = "Trevane";
constexpr int kCommandFrameDialog = 100;

class TrevaneModule : public tq::Module {
public:
    tq::Value handle(int command, const tq::Value& param, tq::ReplyFunction reply) override;
    // Dialogs framed by command 100 in this process (any thread).
    static int framedDialogs();

private:
    static std::atomic<int> framed_;
};

// Makes "Trevane59_vs.dll" loadable by tq::LoadModules. Call before it.
void RegisterTrevaneLibrary();

}  // namespace trevane
