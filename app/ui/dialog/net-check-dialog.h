// The network diagnosis: a button starts a small HTTP server that answers
// every request with the page "网络可连接！(Network connected!)" and shows
// its address, which the user opens in the phone's browser.
//
// States: stopped (no server, address row hidden), listening (server, address
// and copy button shown), failed (no port of 9801..9900 took a listener;
// failure text, no copy button). Closing the dialog leaves the state as it
// is: a listening server keeps answering while the dialog is hidden, until
// the user stops it or the dialog is destroyed.
//
// The server answers on its own worker threads; OnRequest runs there and
// reads only the constant page. Stopping never waits on the GUI thread: the
// server is detached at once and finishes its stop on a pool thread.
// The address poll timer runs only while a server exists: it follows the
// local address (ZuCam::localIp), which may be unknown when the server starts.
// GUI thread only (but OnRequest).
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

#include "http_server.h"

namespace Ui {
class NetCheckDialog;
}

class NetCheckDialog : public QDialog, public HttpServerCallback {
    Q_OBJECT

public:
    static constexpr int kAddressPollMs = 500;
    static constexpr int kCopiedMs = 2000;

    explicit NetCheckDialog(QWidget* parent);
    ~NetCheckDialog() override;

    // 1 from the close button.
    int exec() override;
    std::string OnRequest(int event, void* eventData) override;

    // What the tests look at.
    int pollTimerId() const { return pollTimerId_; }
    uint16_t listeningPort() const { return server_ ? server_->Port() : 0; }
    // The last address shown as a link; empty before one was.
    const QString& testUrl() const { return testUrl_; }

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void on_pushButton_open_check_clicked(bool checked);
    void on_pushButton_copy_url_clicked();
    void on_pushButton_close_clicked();
    void slot_openUrl(const QString& url);

private:
    void Init();
    void SetTestUrlVisible(bool visible);
    // Shows the address of the listening server with the current local
    // address, or says that the local address is not known yet.
    void ShowTestUrl();
    void StopPollTimer();

    std::unique_ptr<Ui::NetCheckDialog> ui_;
    std::unique_ptr<HttpServer> server_;  // present while the test service listens
    int pollTimerId_ = 0;
    QString testUrl_;
    QString shownIp_;  // the local address ShowTestUrl last used
};
