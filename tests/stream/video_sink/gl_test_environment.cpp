#include "gl_test_environment.h"

#include <utility>

namespace zucam::test {
namespace {
std::string& Reason() {
    static std::string reason;
    return reason;
}
}  // namespace

void SetGlSkipReason(std::string reason) { Reason() = std::move(reason); }
const std::string& GlSkipReason() { return Reason(); }

}  // namespace zucam::test
