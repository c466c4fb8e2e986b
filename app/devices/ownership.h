// Whether a file, FIFO or shared-memory object that the program opened is
// this user's own, judged on the opened descriptor (fstat) so that what is
// judged is what is then used: a name checked first and opened later could
// meanwhile name something else.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

// Permission bits through which anyone but the owner reaches an object.
constexpr mode_t kOthersAccessBits = 0077;
// Permission bits through which anyone but the owner changes an object.
constexpr mode_t kOthersWriteBits = 0022;

enum class Ownership {
    kPrivate,       // this user's (the effective uid), none of the bits set
    kOpenToOthers,  // this user's, but some of the bits are set
    kForeign,       // another user's, whatever its bits
};

// status: what fstat said of the opened object; othersBits: which of its
// permission bits count as access for others.
Ownership OwnershipOf(const struct stat& status, mode_t othersBits);
