#include "core/system/winsock_init.h"

#include <errno.h>
#include <signal.h>

namespace {

int ignoreSigpipe() {
    struct sigaction action {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGPIPE, &action, nullptr) == 0 ? 0 : errno;
}

}  // namespace

WinsockInit::WinsockInit() : result_(ignoreSigpipe()) {}

WinsockInit::~WinsockInit() {
    if (result_ != 0) return;
    // Nothing to release. SIGPIPE deliberately stays ignored: threads may still
    // write to sockets while static objects are torn down after this guard.
}
