// The System of the interface table: local time and the desktop's file
// manager.
#pragma once

#include "tether/tether.h"

namespace tq {

class LocalSystem final : public System {
public:
    const char* formatNow(const char* format) override;
    // Starts xdg-open on the folder detached and forgets it: a desktop
    // without a file manager simply shows nothing.
    void openFileLocation(const char* path) override;

    // The text lives in a buffer of the calling thread, valid until its next
    // call. An empty text when the result does not fit in 256 bytes.
    static const char* formatLocalNow(const char* format);
};

}  // namespace tq
