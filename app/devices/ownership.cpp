#include "devices/ownership.h"

#include <unistd.h>

Ownership OwnershipOf(const struct stat& status, const mode_t othersBits) {
    if (status.st_uid != ::geteuid()) return Ownership::kForeign;
    return (status.st_mode & othersBits) != 0 ? Ownership::kOpenToOthers : Ownership::kPrivate;
}
