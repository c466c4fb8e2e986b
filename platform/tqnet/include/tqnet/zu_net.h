// tqnet stand-in: the networking library's HTTP calls, over Qt Network.
//
// What it does:
//  - downLoad() fetches one https URL (at most 5 redirects, each to https
//    again; the peer's certificate is verified against the system's CAs)
//    into a file, blocking the calling thread. Bytes go to
//    "<path>.part" first; only a complete body is renamed to <path>, so a
//    failed or cancelled download never leaves a partial file under the real
//    name (an older file there is replaced only on success).
//  - Its progress callback runs on the downloading thread, the one that called
//    downLoad: after each received block and, without data, every 100 ms, so
//    a cancel (-1) is seen within about 100 ms even from a peer gone silent.
//  - A body is complete when the status is 200, the transfer ended without
//    error and, where the peer sent a length, exactly that many bytes came.
//    Only then is the status 200; a transfer that fails gives a negative code.
//  - Bounds: a peer silent for `idleTimeoutMs`, sending more than `maxBytes`,
//    or, for downLoad, sending fewer than `minWindowBytes` in any
//    `progressWindowMs` or taking longer than `maxDownloadMs` in all ends the
//    transfer.
//  - get() fetches a small body into memory with a total deadline.
// What it does not do: resume, proxies, authentication, cookies.
#pragma once

#include <cstdint>
#include <string>

namespace Zu_Client {

// Negative status codes of failed transfers (HTTP codes are positive).
enum ZuTransferError : int {
    kZuNetworkError = -1,  // refused, unreachable, name not found, cut short
    kZuCancelled = -2,     // the progress callback returned -1
    kZuTooLarge = -3,      // more than the byte limit
    kZuTimedOut = -4,      // idle or too slow (download), or past the deadline
    kZuFileError = -5,     // the file could not be written
    kZuBadUrl = -6,        // not an http(s) URL, or for downLoad not https (a redirect too)
};

struct ZuResponse {
    int statusCode = 0;   // 200 for a complete body, else the HTTP or transfer code
    std::string error;    // why it failed, for the log; empty on success
    std::string body;     // get() only
    int64_t bytes = 0;    // body bytes received
};

struct ZuTransferLimits {
    int64_t maxBytes = int64_t(2) << 30;  // 2 GiB
    int idleTimeoutMs = 30000;            // downLoad: no byte for this long ends it
    int totalTimeoutMs = 10000;           // get: the whole exchange
    // downLoad: a peer that trickles ends too, however rarely it sends a byte.
    int64_t minWindowBytes = 16 * 1024;   // at least this many body bytes ...
    int progressWindowMs = 20000;         // ... in each such window
    int64_t maxDownloadMs = 60 * 60 * 1000;  // the whole download
};

// progress is 0.0 .. 1.0 (0 while the size is unknown); return -1 to stop.
using ZuProgressCallback = int (*)(void* user, double progress);

class ZuNet {
public:
    // replaceExisting: when false an existing file at path makes the call fail
    // (kZuFileError) before anything is fetched. byteLimit: 0 means the
    // default limit, else the most bytes accepted.
    static ZuResponse downLoad(const std::string& url, const std::string& path, bool replaceExisting,
                               int64_t byteLimit, ZuProgressCallback callback, void* user);
    static ZuResponse downLoad(const std::string& url, const std::string& path, bool replaceExisting,
                               ZuProgressCallback callback, void* user, const ZuTransferLimits& limits);
    // A GET of at most limits.maxBytes into memory, within limits.totalTimeoutMs.
    static ZuResponse get(const std::string& url, const ZuTransferLimits& limits);
};

}  // namespace Zu_Client
