// Two large configurations that the crash test's child process flushes in
// turn; the test checks that the file on disk is always one of them.
#pragma once

#include <map>
#include <string>

namespace zucam::test {

// Same keys in both (a store cannot drop keys), different texts and lengths,
// so that any mix or truncation of the two is recognisable.
inline std::map<std::string, std::string> sampleConfiguration(int which) {
    std::map<std::string, std::string> configuration;
    for (int n = 0; n < 40; ++n) {
        const size_t length = which == 0 ? 6000 : 15000;
        std::string text = "conf" + std::to_string(which) + "-" + std::to_string(n) + " ";
        while (text.size() < length) text += which == 0 ? "alpha 中文 " : "beta 😀 ";
        configuration["key " + std::to_string(n)] = text;
    }
    return configuration;
}

}  // namespace zucam::test
