// Logging macros: LOG_E, LOG_W, LOG_I, LOG_D (levels 2 to 5).
//
//   LOG_E("----> loaded modules count=%d", count);
// writes "<time>[E][tq] <file> <line>: "----> loaded modules count=3"" and a
// newline: the message literal is logged as spelled in the source, quotes
// included, with its printf conversions applied. <time> is "%m%d-%H:%M:%S",
// <file> the base name of the source file and <line> left-aligned in four
// columns. While g_cd is null (before tq::InitTether, after
// tq::UninitTether) nothing is written and no time is formatted. The macros
// take no lock: Tether's logger may be called from any thread.
#pragma once

#include "core/tether/tq.h"

// Offset of the first character after the last '/' or '\' of path, scanning
// from index; last is the offset of the last separator seen so far (-1 for
// none). Evaluated at compile time for __FILE__.
constexpr int basenameOffset(const char* path, int index, int last) {
    for (;; ++index) {
        const char c = path[index];
        if (c == '\0') return last + 1;
        if (c == '/' || c == '\\') last = index;
    }
}

#define ZU_LOG_AT(level, letter, message, ...)                                                       \
    do {                                                                                             \
        tq::Interface* const zu_log_cd_ = g_cd;                                                      \
        if (zu_log_cd_ != nullptr) {                                                                 \
            constexpr int zu_log_base_ = basenameOffset(__FILE__, 1, -1);                            \
            zu_log_cd_->logger->log(level, "tq", "%s[" letter "][tq] %s %-4d: " #message "\n",       \
                                    zu_log_cd_->system->formatNow("%m%d-%H:%M:%S"),                  \
                                    &(__FILE__)[zu_log_base_], __LINE__, ##__VA_ARGS__);             \
        }                                                                                            \
    } while (0)

#define LOG_E(message, ...) ZU_LOG_AT(2, "E", message, ##__VA_ARGS__)
#define LOG_W(message, ...) ZU_LOG_AT(3, "W", message, ##__VA_ARGS__)
#define LOG_I(message, ...) ZU_LOG_AT(4, "I", message, ##__VA_ARGS__)
#define LOG_D(message, ...) ZU_LOG_AT(5, "D", message, ##__VA_ARGS__)
