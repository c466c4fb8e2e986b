#include "tqnet/zu_net.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <functional>

namespace Zu_Client {
namespace {

constexpr int kTickMs = 100;
constexpr int kMaxRedirects = 5;

bool isHttpUrl(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http" || scheme == "https") && !url.host().isEmpty();
}

bool isHttpsUrl(const QUrl& url) { return isHttpUrl(url) && url.scheme().toLower() == "https"; }

// Receives each block of the body; returns 0 to go on, or a negative
// ZuTransferError to end the transfer.
using BodySink = std::function<int(const QByteArray& block)>;

enum class TimeoutKind { kIdle, kTotal };

// One GET on a local event loop of the calling thread. Fills statusCode,
// error and bytes of the response; statusCode is 200 only for a whole body.
ZuResponse runTransfer(const QUrl& url, const ZuTransferLimits& limits, TimeoutKind timeoutKind,
                       const BodySink& sink, ZuProgressCallback callback, void* user) {
    ZuResponse response;
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    // A download follows a redirect only to https (checked below).
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, timeoutKind == TimeoutKind::kIdle
                                                                        ? QNetworkRequest::UserVerifiedRedirectPolicy
                                                                        : QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    // Asked for explicitly, Qt leaves the body as sent, so the byte count
    // can be held against the announced length.
    request.setRawHeader("Accept-Encoding", "identity");
    QNetworkReply* const reply = manager.get(request);
    // A bounded read buffer makes Qt's network thread stop reading a peer
    // that floods, so an abort is handled at once and memory stays bounded.
    reply->setReadBufferSize(256 * 1024);

    int failure = 0;  // our own reason for ending the transfer, if any
    std::string failureText;
    double progress = 0;
    QElapsedTimer sinceStart;
    QElapsedTimer sinceData;
    QElapsedTimer sinceWindow;
    int64_t windowBytes = 0;
    sinceStart.start();
    sinceData.start();
    sinceWindow.start();
    QEventLoop loop;

    const auto stop = [&](int code, const std::string& text) {
        if (failure != 0) return;
        failure = code;
        failureText = text;
        reply->abort();
    };
    const auto drain = [&] {
        while (failure == 0 && reply->bytesAvailable() > 0) {
            const QByteArray block = reply->read(64 * 1024);
            if (block.isEmpty()) break;
            sinceData.restart();
            response.bytes += block.size();
            windowBytes += block.size();
            if (response.bytes > limits.maxBytes) {
                stop(kZuTooLarge, "more than " + std::to_string(limits.maxBytes) + " bytes");
                return;
            }
            const int result = sink(block);
            if (result < 0) stop(result, "the body could not be stored");
        }
    };
    const auto report = [&] {
        if (failure == 0 && callback != nullptr && callback(user, progress) == -1) stop(kZuCancelled, "cancelled");
    };

    QObject::connect(reply, &QNetworkReply::metaDataChanged, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limits.maxBytes) {
            stop(kZuTooLarge, "announced " + std::to_string(length.toLongLong()) + " bytes");
        }
    });
    QObject::connect(reply, &QNetworkReply::redirected, [&](const QUrl& next) {
        if (timeoutKind != TimeoutKind::kIdle) return;
        if (isHttpsUrl(next)) {
            emit reply->redirectAllowed();
        } else {
            stop(kZuBadUrl, "redirected to an address that is not https: " + next.toString().toStdString());
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, drain);
    QObject::connect(reply, &QNetworkReply::downloadProgress, [&](qint64 received, qint64 total) {
        // An error page's body is no progress of the file.
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 200) return;
        progress = total > 0 ? double(received) / double(total) : 0.0;
        if (progress > 1.0) progress = 1.0;
        report();
    });
    QTimer tick;
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (timeoutKind == TimeoutKind::kIdle && sinceData.elapsed() > limits.idleTimeoutMs) {
            stop(kZuTimedOut, "no data for " + std::to_string(limits.idleTimeoutMs) + " ms");
        } else if (timeoutKind == TimeoutKind::kIdle && sinceStart.elapsed() > limits.maxDownloadMs) {
            stop(kZuTimedOut, "not done within " + std::to_string(limits.maxDownloadMs) + " ms");
        } else if (timeoutKind == TimeoutKind::kIdle && sinceWindow.elapsed() >= limits.progressWindowMs) {
            if (windowBytes < limits.minWindowBytes) {
                stop(kZuTimedOut, "fewer than " + std::to_string(limits.minWindowBytes) + " bytes in " +
                                      std::to_string(limits.progressWindowMs) + " ms");
            }
            windowBytes = 0;
            sinceWindow.restart();
        } else if (timeoutKind == TimeoutKind::kTotal && sinceStart.elapsed() > limits.totalTimeoutMs) {
            stop(kZuTimedOut, "no answer within " + std::to_string(limits.totalTimeoutMs) + " ms");
        } else {
            report();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    tick.start();
    if (!reply->isFinished()) loop.exec();
    tick.stop();
    drain();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    const bool lengthKept = !length.isValid() || length.toLongLong() == response.bytes;
    if (failure != 0) {
        response.statusCode = failure;
        response.error = failureText;
    } else if (status == 200 && reply->error() == QNetworkReply::NoError && lengthKept) {
        response.statusCode = 200;
    } else if (status == 200 || status == 0) {
        response.statusCode = kZuNetworkError;
        response.error = status == 200 && reply->error() == QNetworkReply::NoError
                             ? "body cut short: " + std::to_string(response.bytes) + " bytes"
                             : reply->errorString().toStdString();
    } else {
        response.statusCode = status;
        response.error = "HTTP " + std::to_string(status);
    }
    delete reply;
    return response;
}

}  // namespace

ZuResponse ZuNet::downLoad(const std::string& url, const std::string& path, bool replaceExisting, int64_t byteLimit,
                           ZuProgressCallback callback, void* user) {
    ZuTransferLimits limits;
    if (byteLimit > 0) limits.maxBytes = byteLimit;
    return downLoad(url, path, replaceExisting, callback, user, limits);
}

ZuResponse ZuNet::downLoad(const std::string& url, const std::string& path, bool replaceExisting,
                           ZuProgressCallback callback, void* user, const ZuTransferLimits& limits) {
    ZuResponse response;
    const QUrl target = QUrl(QString::fromUtf8(url.c_str()), QUrl::StrictMode);
    if (!isHttpsUrl(target)) {
        response.statusCode = kZuBadUrl;
        response.error = "not an https address: " + url;
        return response;
    }
    const QString filePath = QString::fromUtf8(path.c_str());
    if (filePath.isEmpty() || (!replaceExisting && QFile::exists(filePath))) {
        response.statusCode = kZuFileError;
        response.error = "no file to write or the file exists: " + path;
        return response;
    }
    QFile part(filePath + ".part");
    if (!part.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        response.statusCode = kZuFileError;
        response.error = part.errorString().toStdString();
        return response;
    }
    response = runTransfer(
        target, limits, TimeoutKind::kIdle,
        [&part](const QByteArray& block) { return part.write(block) == block.size() ? 0 : int(kZuFileError); },
        callback, user);
    const bool flushed = part.flush();
    part.close();
    if (response.statusCode == 200) {
        // rename() never replaces; the old file goes only now that a whole new one is here.
        if (!flushed || (QFile::exists(filePath) && !QFile::remove(filePath)) || !part.rename(filePath)) {
            response.statusCode = kZuFileError;
            response.error = "could not put the file in place: " + path;
        }
    }
    if (response.statusCode != 200) part.remove();
    return response;
}

ZuResponse ZuNet::get(const std::string& url, const ZuTransferLimits& limits) {
    ZuResponse response;
    const QUrl target = QUrl(QString::fromUtf8(url.c_str()), QUrl::StrictMode);
    if (!isHttpUrl(target)) {
        response.statusCode = kZuBadUrl;
        response.error = "not an http or https address: " + url;
        return response;
    }
    std::string body;
    response = runTransfer(
        target, limits, TimeoutKind::kTotal,
        [&body](const QByteArray& block) {
            body.append(block.constData(), size_t(block.size()));
            return 0;
        },
        nullptr, nullptr);
    response.body = std::move(body);
    return response;
}

}  // namespace Zu_Client
