// The network diagnosis dialog with its real server on loopback (run inside
// scripts/netns-run): the port search, the page served while the dialog is
// hidden, the stop that never waits for a client, the address poll timer,
// the address shown as a link only when the local address is known.
#include <QAbstractButton>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHostAddress>
#include <QLabel>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <chrono>
#include <gtest/gtest.h>
#include <list>
#include <memory>
#include <thread>

#include "net_check_page.h"
#include "support/dialog_recorder.h"
#include "support/http/scripted_http_server.h"
#include "ui/dialog/net-check-dialog.h"
#include "zucam.h"

using namespace std::chrono_literals;
using zucam::test::RawHttpExchange;

namespace {

bool Served(uint16_t port) {
    const auto result = RawHttpExchange(port, "GET /favicon.ico?x=1 HTTP/1.1\r\nHost: phone\r\n\r\n", 3000ms);
    return result.status == 200 && result.body == NetCheckPage();
}

// Waits (with a deadline) until nothing accepts on port any more.
bool RefusedWithin(uint16_t port, std::chrono::milliseconds deadline) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < deadline.count()) {
        if (!RawHttpExchange(port, "GET / HTTP/1.0\r\n\r\n", 500ms).connected) return true;
        QTest::qWait(20);
    }
    return false;
}

class NetCheckDialogTest : public testing::Test {
protected:
    void SetUp() override {
        app = zucamApp();
        ASSERT_NE(app, nullptr);
        QCoreApplication::processEvents();  // ZuCam's own start-up runs first
        app->setLocalIp("192.168.7.20");
        dialog = std::make_unique<NetCheckDialog>(nullptr);
        dialog->show();
    }
    void TearDown() override {
        dialog.reset();
        app->setLocalIp(QString());
    }
    QAbstractButton* Button(const char* name) const { return dialog->findChild<QAbstractButton*>(name); }
    QLabel* Label(const char* name) const { return dialog->findChild<QLabel*>(name); }
    void Toggle() { Button("pushButton_open_check")->click(); }

    ZuCam* app = nullptr;
    std::unique_ptr<NetCheckDialog> dialog;
};

TEST_F(NetCheckDialogTest, HeldPortGivesTheNextAndThePageIsServedAfterClosing) {
    QTcpServer other;  // "another program" on 9801
    ASSERT_TRUE(other.listen(QHostAddress::AnyIPv4, kNetCheckFirstPort));
    EXPECT_EQ(dialog->pollTimerId(), 0);  // no server, no timer
    EXPECT_TRUE(Label("label_url")->isHidden());

    Toggle();
    ASSERT_EQ(dialog->listeningPort(), kNetCheckFirstPort + 1);
    EXPECT_EQ(dialog->testUrl(), QString("http://192.168.7.20:9802"));
    EXPECT_TRUE(Label("label_url")->text().contains("<a href=\"http://192.168.7.20:9802\""));
    EXPECT_EQ(Label("label_url")->textFormat(), Qt::RichText);
    EXPECT_FALSE(Button("pushButton_copy_url")->isHidden());
    EXPECT_FALSE(Label("label_note")->isHidden());
    EXPECT_EQ(Button("pushButton_open_check")->text(), QString::fromUtf8("关闭测试服务监听"));
    EXPECT_NE(dialog->pollTimerId(), 0);
    EXPECT_TRUE(Served(9802));

    // Closed by its button: hidden, still answering the phone.
    Button("pushButton_close")->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 1);
    EXPECT_TRUE(Served(9802));
    EXPECT_NE(dialog->pollTimerId(), 0);

    // Reopened in the same state; unchecking closes the port.
    zucam::test::DialogRecorder runs;
    dialog->exec();
    EXPECT_TRUE(Button("pushButton_open_check")->isChecked());
    Toggle();
    EXPECT_EQ(dialog->listeningPort(), 0);
    EXPECT_EQ(dialog->pollTimerId(), 0);
    EXPECT_TRUE(Label("label_url")->isHidden());
    EXPECT_TRUE(Button("pushButton_copy_url")->isHidden());
    EXPECT_EQ(Button("pushButton_open_check")->text(), QString::fromUtf8("开启测试服务监听"));
    EXPECT_TRUE(RefusedWithin(9802, 5000ms));
}

TEST_F(NetCheckDialogTest, StoppingNeverWaitsForAClientThatSaysNothing) {
    Toggle();
    const uint16_t port = dialog->listeningPort();
    ASSERT_NE(port, 0);
    // Clients that connect and send nothing hold the server's workers for
    // its request time-out (3 s).
    std::list<QTcpSocket> idle;
    for (int i = 0; i < 3; ++i) {
        idle.emplace_back();
        idle.back().connectToHost(QHostAddress::LocalHost, port);
        ASSERT_TRUE(idle.back().waitForConnected(2000));
    }
    QTest::qWait(100);
    QElapsedTimer clock;
    clock.start();
    Toggle();
    EXPECT_LT(clock.elapsed(), 300) << "the stop held the GUI thread";
    EXPECT_EQ(dialog->listeningPort(), 0);
    EXPECT_TRUE(RefusedWithin(port, 8000ms));

    // Destroying a listening dialog does not wait either.
    Toggle();
    const uint16_t again = dialog->listeningPort();
    ASSERT_NE(again, 0);
    QTcpSocket holder;
    holder.connectToHost(QHostAddress::LocalHost, again);
    ASSERT_TRUE(holder.waitForConnected(2000));
    QTest::qWait(100);
    clock.restart();
    dialog.reset();
    EXPECT_LT(clock.elapsed(), 300);
    EXPECT_TRUE(RefusedWithin(again, 8000ms));
}

TEST_F(NetCheckDialogTest, UnknownLocalAddressIsNoLinkUntilItIsKnown) {
    app->setLocalIp(QString());
    Toggle();
    ASSERT_NE(dialog->listeningPort(), 0);
    QLabel* url = Label("label_url");
    EXPECT_FALSE(url->text().contains("href"));
    EXPECT_FALSE(url->text().contains("http://:"));
    EXPECT_EQ(url->textFormat(), Qt::PlainText);
    EXPECT_TRUE(Button("pushButton_copy_url")->isHidden());
    EXPECT_TRUE(dialog->testUrl().isEmpty());
    EXPECT_TRUE(Served(dialog->listeningPort()));  // the page is there all the same

    // The main form learns the address: the poll timer shows it.
    app->setLocalIp("10.0.0.5");
    const QString expected = QString("http://10.0.0.5:%1").arg(dialog->listeningPort());
    QTRY_COMPARE_WITH_TIMEOUT(dialog->testUrl(), expected, 3000);
    EXPECT_TRUE(url->text().contains("href=\"" + expected + "\""));
    EXPECT_FALSE(Button("pushButton_copy_url")->isHidden());
}

TEST_F(NetCheckDialogTest, CopyPutsTheAddressOnTheClipboardAndLocksForTwoSeconds) {
    Toggle();
    ASSERT_NE(dialog->listeningPort(), 0);
    QAbstractButton* copy = Button("pushButton_copy_url");
    QElapsedTimer clock;
    clock.start();
    copy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), dialog->testUrl());
    EXPECT_EQ(copy->text(), QString::fromUtf8("复制成功"));
    EXPECT_FALSE(copy->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(copy->isEnabled(), 4000);
    EXPECT_GE(clock.elapsed(), NetCheckDialog::kCopiedMs - 50);
    EXPECT_EQ(copy->text(), QString::fromUtf8("复制地址"));
}

TEST_F(NetCheckDialogTest, EveryPortHeldIsTheFailedStateAndARetryStartsAgain) {
    std::list<QTcpServer> held;
    for (int port = kNetCheckFirstPort; port <= kNetCheckLastPort; ++port) {
        held.emplace_back();
        ASSERT_TRUE(held.back().listen(QHostAddress::AnyIPv4, quint16(port))) << port;
    }
    Toggle();
    EXPECT_EQ(dialog->listeningPort(), 0);
    EXPECT_EQ(dialog->pollTimerId(), 0);  // no server, no timer
    EXPECT_EQ(Label("label_url")->text(), QString::fromUtf8("服务开启失败，请重试"));
    EXPECT_FALSE(Label("label_url")->isHidden());
    EXPECT_TRUE(Button("pushButton_copy_url")->isHidden());
    EXPECT_TRUE(Button("pushButton_open_check")->isChecked());
    EXPECT_EQ(Button("pushButton_open_check")->text(), QString::fromUtf8("关闭测试服务监听"));

    Toggle();  // back to stopped
    EXPECT_TRUE(Label("label_url")->isHidden());
    held.clear();
    Toggle();  // a retry from 9801
    EXPECT_EQ(dialog->listeningPort(), kNetCheckFirstPort);
    EXPECT_NE(dialog->pollTimerId(), 0);
    EXPECT_TRUE(Served(kNetCheckFirstPort));
}

}  // namespace
