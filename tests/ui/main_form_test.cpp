// The connection form: page states and preview sinks, the address links and
// the clipboard, the iOS device list with a fake name lookup, the channel
// buttons and the iOS service tip.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "stream/video_sink/stream_video_sink.h"
#include "stream/video_sink/stream_video_sink_gl.h"
#include "stream/video_sink/stream_video_sink_sw.h"
#include "support/dialog_recorder.h"
#include "support/message_box_recorder.h"
#include "support/usbmuxd/fake_usbmuxd.h"
#include "ui/main-form.h"
#include "ui/widgets/opengl-widget.h"
#include "ui/widgets/painter-widget.h"
#include "ui/widgets/rotate-label.h"
#include "ui/widgets/usb-listview-item.h"
#include "zucam.h"

namespace {

using zucam::test::MessageBoxRecorder;

template <typename T = QWidget>
T* Child(const QWidget& form, const char* name) {
    T* child = form.findChild<T*>(name);
    EXPECT_NE(child, nullptr) << name;
    return child;
}

// A name lookup that answers from a table and counts what it was asked. The
// form calls it on threads of its own; the state is shared with them, so a
// lookup that ends after the test is harmless.
class FakeNames {
public:
    void Set(const QString& serial, const QString& name) {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->names[serial] = name;
    }
    // What was asked since the last call, sorted.
    QStringList TakeAsked() {
        std::lock_guard<std::mutex> lock(state_->mutex);
        QStringList asked = state_->asked;
        state_->asked.clear();
        asked.sort();
        return asked;
    }
    MainForm::DeviceNameLookup lookup() const {
        return [state = state_](const QString& serial, QString* error) {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->asked << serial;
            if (!state->names.contains(serial)) {
                *error = "Could not connect to lockdownd";
                return QString();
            }
            return state->names.value(serial);
        };
    }

private:
    struct State {
        std::mutex mutex;  // guards the two below
        QMap<QString, QString> names;  // serial -> name; missing: lookup fails
        QStringList asked;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

class MainFormTest : public testing::Test {
protected:
    void SetUp() override {
        app = zucamApp();
        ASSERT_NE(app, nullptr);
        QCoreApplication::processEvents();  // ZuCam loads its settings first
        app->useHardwareRender = false;
        form = std::make_unique<MainForm>();
        form->SetDeviceNameLookup(fake.lookup());
        form->resize(656, 673);
    }

    QListWidget* list() { return Child<QListWidget>(*form, "listWidget"); }
    USBListViewItem* Row(const QString& serial) { return form->deviceEntries().value(serial).widget; }
    QString RowButtonText(const QString& serial) {
        return Row(serial)->findChild<QPushButton*>("pushButton_connect")->text();
    }
    void ClickRow(const QString& serial) {
        QTest::mouseClick(Row(serial)->findChild<QPushButton*>("pushButton_connect"), Qt::LeftButton);
    }
    // Lists serials and waits until every name lookup came back.
    void List(const QStringList& serials) {
        form->UpdateUsbDeviceList(serials);
        QTRY_COMPARE_WITH_TIMEOUT(form->lookupsInFlight(), 0, 5000);
    }
    QString RowName(const QString& serial) { return Row(serial)->findChild<QLabel*>("label_name")->text(); }
    StreamVideoSink* SoftwareSink() { return form->GetPreviewSinks()[0]; }
    StreamVideoSink* GlSink() { return form->GetPreviewSinks()[1]; }

    ZuCam* app = nullptr;
    FakeNames fake;
    std::unique_ptr<MainForm> form;
};

TEST_F(MainFormTest, OpensOnTheWifiPageWithTheRotationRunning) {
    EXPECT_EQ(form->CurrentPage(), MainForm::kPageWaitLink);
    EXPECT_TRUE(Child<RotateLabel>(*form, "label_imgwait")->isRunning());
    EXPECT_FALSE(SoftwareSink()->enabled);
    EXPECT_FALSE(GlSink()->enabled);
    EXPECT_EQ(Child<QStackedWidget>(*form, "stackedWidget_usb_step")->currentWidget(),
              Child(*form, "page_noLink"));
}

TEST_F(MainFormTest, EveryStateShowsItsPageAndSinks) {
    struct Case {
        int state;
        int page;
        bool rotating;
        bool softwareSink;
    };
    const Case cases[] = {
        {MainForm::kPreview, MainForm::kPageDisplay, false, true},
        {MainForm::kWifiWaiting, MainForm::kPageWaitLink, true, false},
        {MainForm::kUsbWaiting, MainForm::kPageUsbWaitLink, true, false},  // the rotation is not stopped
        {MainForm::kPreview, MainForm::kPageDisplay, false, true},
        {MainForm::kConnected, MainForm::kPageLinkSuccess, false, false},
        {MainForm::kPreview, MainForm::kPageDisplay, false, true},
        {7, MainForm::kPageDisplay, false, false},  // unknown: sinks off, page kept
        {-1, MainForm::kPageDisplay, false, false},
    };
    for (const Case& c : cases) {
        form->ShowState(c.state);
        EXPECT_EQ(form->CurrentPage(), c.page) << c.state;
        EXPECT_EQ(Child<RotateLabel>(*form, "label_imgwait")->isRunning(), c.rotating) << c.state;
        EXPECT_EQ(SoftwareSink()->enabled.load(), c.softwareSink) << c.state;
        EXPECT_FALSE(GlSink()->enabled) << c.state;
    }
}

TEST_F(MainFormTest, PreviewConvertsOnlyInTheWidgetOnScreen) {
    form->show();
    const std::vector<StreamVideoSink*> sinks = form->GetPreviewSinks();
    ASSERT_EQ(sinks.size(), 2u);
    EXPECT_EQ(sinks[0], static_cast<StreamVideoSink*>(Child<PainterWidget>(*form, "painterWidget")->Sink()));
    EXPECT_EQ(sinks[1], static_cast<StreamVideoSink*>(Child<OpenGLWidget>(*form, "openGLWidget")->Sink()));

    form->ShowState(MainForm::kPreview);
    EXPECT_TRUE(Child(*form, "painterWidget")->isVisible());
    EXPECT_FALSE(Child(*form, "openGLWidget")->isVisible());
    EXPECT_TRUE(SoftwareSink()->enabled);
    EXPECT_FALSE(GlSink()->enabled);

    // The render mode changed in the settings: the next preview uses the
    // other widget, and the hidden one stops converting at once.
    app->useHardwareRender = true;
    form->ShowState(MainForm::kPreview);
    EXPECT_TRUE(Child(*form, "openGLWidget")->isVisible());
    EXPECT_FALSE(Child(*form, "painterWidget")->isVisible());
    EXPECT_TRUE(GlSink()->enabled);
    EXPECT_FALSE(SoftwareSink()->enabled);

    form->ShowState(MainForm::kConnected);
    EXPECT_FALSE(GlSink()->enabled);
    EXPECT_FALSE(SoftwareSink()->enabled);
}

TEST_F(MainFormTest, AddressLinksAndClipboard) {
    QLabel* ip = Child<QLabel>(*form, "label_ip");
    app->localIp = "10.0.0.9";
    form->SetIpAddress({});
    EXPECT_EQ(ip->text(), QString("---.---.---.---"));
    EXPECT_EQ(app->localIp, QString("10.0.0.9"));

    form->SetIpAddress({"192.168.1.20"});
    EXPECT_EQ(ip->text().count("<a href=\"192.168.1.20\">"), 1);
    EXPECT_FALSE(ip->text().contains(" / "));
    EXPECT_EQ(app->localIp, QString("192.168.1.20"));

    form->SetIpAddress({"192.168.1.20", "10.1.2.3", "172.16.0.4"});
    EXPECT_TRUE(ip->text().startsWith("<html><head/><body><p><a href=\"192.168.1.20\">"));
    EXPECT_EQ(ip->text().count("<a href="), 3);
    EXPECT_EQ(ip->text().count("color:#999999;'> / </text>"), 2);
    EXPECT_LT(ip->text().indexOf("10.1.2.3"), ip->text().indexOf("172.16.0.4"));
    EXPECT_EQ(app->localIp, QString("192.168.1.20"));

    QSignalSpy copied(form.get(), &MainForm::IpCopyToClipboard);
    emit ip->linkActivated("10.1.2.3");
    EXPECT_EQ(copied.count(), 1);
    EXPECT_EQ(QApplication::clipboard()->text(), QString("10.1.2.3"));
}

TEST_F(MainFormTest, UsbRowsFollowTheListAndNamesAreAskedUntilRead) {
    fake.Set("A1", "Anna's iPhone");  // B2 is not trusted yet
    List({"A1", "B2"});
    EXPECT_EQ(list()->count(), 2);
    EXPECT_EQ(fake.TakeAsked(), QStringList({"A1", "B2"}));
    EXPECT_EQ(Child<QStackedWidget>(*form, "stackedWidget_usb_step")->currentWidget(),
              Child(*form, "page_checkLink"));
    EXPECT_EQ(RowName("A1"), QString("Anna's iPhone"));
    EXPECT_EQ(RowName("B2"), QString::fromUtf8(USBListViewItem::kUntrustedNameHint));
    EXPECT_EQ(list()->item(0)->sizeHint().height(), static_cast<int>(app->dpiScale * 50.0));
    EXPECT_EQ(list()->itemWidget(list()->item(1)), Row("B2"));

    // The same list again: no new rows; only the nameless device is asked.
    fake.Set("B2", "<b>Bob</b>");
    List({"A1", "B2"});
    EXPECT_EQ(list()->count(), 2);
    EXPECT_EQ(fake.TakeAsked(), QStringList({"B2"}));
    EXPECT_EQ(RowName("B2"), QString("<b>Bob</b>"));
    EXPECT_EQ(Row("B2")->findChild<QLabel*>("label_name")->textFormat(), Qt::PlainText);
    List({"A1", "B2"});
    EXPECT_TRUE(fake.TakeAsked().isEmpty());

    // A1 is unplugged; a new device comes at the end.
    fake.Set("C3", "iPad");
    List({"C3", "B2"});
    EXPECT_EQ(list()->count(), 2);
    EXPECT_FALSE(form->deviceEntries().contains("A1"));
    EXPECT_EQ(fake.TakeAsked(), QStringList({"C3"}));
    EXPECT_EQ(list()->itemWidget(list()->item(0)), Row("B2"));
    EXPECT_EQ(list()->itemWidget(list()->item(1)), Row("C3"));

    // Case matters: "c3" is another device.
    List({"c3"});
    EXPECT_EQ(form->deviceEntries().keys(), QStringList({"c3"}));

    List({});
    EXPECT_EQ(list()->count(), 0);
    EXPECT_EQ(Child<QStackedWidget>(*form, "stackedWidget_usb_step")->currentWidget(),
              Child(*form, "page_noLink"));
}

TEST_F(MainFormTest, SlowDeviceNeverHoldsTheWindow) {
    struct Gate {
        std::mutex mutex;
        std::condition_variable released;
        bool open = false;
        int calls = 0;
    };
    auto gate = std::make_shared<Gate>();
    form->SetDeviceNameLookup([gate](const QString&, QString*) {
        std::unique_lock<std::mutex> lock(gate->mutex);
        ++gate->calls;
        gate->released.wait_for(lock, std::chrono::seconds(10), [&] { return gate->open; });
        return QString("Slow iPhone");
    });
    QElapsedTimer clock;
    clock.start();
    form->UpdateUsbDeviceList({"S1"});
    form->UpdateUsbDeviceList({"S1"});  // the next listing asks no second time
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(form->lookupsInFlight(), 1);
    EXPECT_EQ(RowName("S1"), QString::fromUtf8(USBListViewItem::kUntrustedNameHint));
    {
        std::lock_guard<std::mutex> lock(gate->mutex);
        gate->open = true;
    }
    gate->released.notify_all();
    QTRY_COMPARE_WITH_TIMEOUT(RowName("S1"), QString("Slow iPhone"), 5000);
    std::lock_guard<std::mutex> lock(gate->mutex);
    EXPECT_EQ(gate->calls, 1);
}

TEST_F(MainFormTest, FormGoneBeforeTheLookupEndsIsHarmless) {
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto done = std::make_shared<std::atomic<bool>>(false);
    form->SetDeviceNameLookup([release, done](const QString&, QString*) {
        while (!*release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        *done = true;
        return QString("late");
    });
    form->UpdateUsbDeviceList({"S1"});
    form.reset();
    *release = true;
    QTRY_VERIFY_WITH_TIMEOUT(done->load(), 5000);
    QTest::qWait(50);  // a stray posted call would land here
}

TEST_F(MainFormTest, AUsbmuxdThatNeverAnswersHoldsNotTheWindowWithTheRealNameLookup) {
    zucam::usbmux::FakeUsbmuxd usbmuxd;
    ASSERT_TRUE(usbmuxd.valid());
    zucam::usbmux::FakeDevice device;
    device.udid = "S1";
    device.id = 7;
    usbmuxd.setDevices({device});
    usbmuxd.setSilent(true);
    auto real = std::make_unique<MainForm>();  // its own lookup: libimobiledevice through usbmuxd
    QElapsedTimer clock;
    clock.start();
    real->UpdateUsbDeviceList({"S1"});
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(real->lookupsInFlight(), 1);
    // The lookup now waits on the daemon, and the window goes on meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(usbmuxd.requestCount("ListDevices") > 0, 5000);
    real->UpdateUsbDeviceList({"S1"});
    EXPECT_EQ(real->lookupsInFlight(), 1) << "no second lookup piles up behind the hung one";
    EXPECT_EQ(real->deviceEntries().size(), 1);
    real.reset();  // gone before the lookup ends; the daemon's end lets it return
}

TEST_F(MainFormTest, ListingIsBoundedInRowsAndNameLength) {
    QStringList flood;
    for (int i = 0; i < 500; ++i) flood << QString("D%1").arg(i, 3, 10, QLatin1Char('0'));
    fake.Set("D000", QString(100000, QChar('x')));
    List(flood);
    EXPECT_EQ(list()->count(), MainForm::kMaxDevices);
    EXPECT_EQ(form->deviceEntries().size(), MainForm::kMaxDevices);
    EXPECT_EQ(form->deviceEntries().value("D000").name.size(), MainForm::kMaxNameLength);
    // Once the first rows go, later ones get their turn.
    List(flood.mid(MainForm::kMaxDevices));
    EXPECT_EQ(list()->count(), MainForm::kMaxDevices);
    EXPECT_TRUE(form->deviceEntries().contains(flood[MainForm::kMaxDevices]));
}

TEST_F(MainFormTest, RowConnectFailReconnectAndSucceed) {
    fake.Set("A1", "iPhone A");
    fake.Set("B2", "iPhone B");
    List({"A1", "B2"});
    QSignalSpy connectAsked(form.get(), &MainForm::ConnecUsbDevice);

    ClickRow("A1");
    ASSERT_EQ(connectAsked.count(), 1);
    EXPECT_EQ(connectAsked.takeFirst().at(0).toString(), QString("A1"));
    EXPECT_EQ(form->pendingSerial(), QString("A1"));
    EXPECT_EQ(form->deviceEntries().value("A1").state, UsbDeviceEntry::kConnecting);
    EXPECT_EQ(RowButtonText("A1"), QString::fromUtf8("连接中..."));
    EXPECT_FALSE(Row("A1")->findChild<QPushButton*>("pushButton_connect")->isEnabled());

    form->OnUsbConnectError("<i>pair refused</i>");
    EXPECT_EQ(form->deviceEntries().value("A1").state, UsbDeviceEntry::kFailed);
    EXPECT_EQ(form->deviceEntries().value("A1").error, QString("<i>pair refused</i>"));
    EXPECT_EQ(RowButtonText("A1"), QString::fromUtf8("重连"));
    EXPECT_TRUE(form->pendingSerial().isEmpty());
    // The error text comes from the phone's side: shown as it stands.
    const QString tip = Row("A1")->findChild<QPushButton*>("pushButton_error")->toolTip();
    EXPECT_TRUE(tip.contains("&lt;i&gt;pair refused&lt;/i&gt;")) << tip.toStdString();

    // A second report with nothing pending changes nothing.
    form->OnUsbConnectError("late");
    EXPECT_EQ(form->deviceEntries().value("A1").error, QString("<i>pair refused</i>"));
    EXPECT_EQ(form->deviceEntries().value("B2").state, UsbDeviceEntry::kIdle);

    ClickRow("A1");  // reconnect from the failed state
    EXPECT_EQ(form->deviceEntries().value("A1").state, UsbDeviceEntry::kConnecting);
    form->ShowState(MainForm::kConnected);
    EXPECT_EQ(form->deviceEntries().value("A1").state, UsbDeviceEntry::kIdle);
    EXPECT_EQ(RowButtonText("A1"), QString::fromUtf8("连接"));
    EXPECT_TRUE(form->pendingSerial().isEmpty());
    EXPECT_EQ(connectAsked.count(), 1);
}

TEST_F(MainFormTest, PendingDeviceThatVanishesIgnoresALaterError) {
    fake.Set("A1", "iPhone A");
    fake.Set("B2", "iPhone B");
    List({"A1", "B2"});
    ClickRow("A1");
    form->UpdateUsbDeviceList({"B2"});
    EXPECT_TRUE(form->pendingSerial().isEmpty());
    form->OnUsbConnectError("gone");
    EXPECT_EQ(form->deviceEntries().value("B2").state, UsbDeviceEntry::kIdle);
    EXPECT_TRUE(form->deviceEntries().value("B2").error.isEmpty());
    // The removed row is released on the next turn of the event loop.
    QPointer<QWidget> b2Row = Row("B2");
    form->UpdateUsbDeviceList({});
    QTRY_VERIFY_WITH_TIMEOUT(b2Row.isNull(), 2000);
    EXPECT_TRUE(b2Row.isNull());
}

TEST_F(MainFormTest, WifiPageEmptiesTheListAndTheNextListBuildsItAnew) {
    fake.Set("A1", "iPhone A");
    List({"A1"});
    ClickRow("A1");
    QPointer<QWidget> oldRow = Row("A1");
    form->ShowState(MainForm::kWifiWaiting);
    EXPECT_EQ(list()->count(), 0);
    EXPECT_TRUE(form->deviceEntries().isEmpty());
    EXPECT_EQ(form->pendingSerial(), QString("A1"));  // kept, as the hub may still answer
    QTRY_VERIFY_WITH_TIMEOUT(oldRow.isNull(), 2000);

    List({"A1"});
    EXPECT_EQ(list()->count(), 1);
    EXPECT_EQ(form->deviceEntries().value("A1").state, UsbDeviceEntry::kIdle);
    EXPECT_EQ(RowButtonText("A1"), QString::fromUtf8("连接"));
}

TEST_F(MainFormTest, ChannelButtonsAskForTheirChannelOnly) {
    MessageBoxRecorder boxes;
    zucam::test::DialogRecorder offers(0);  // the iOS service offer, when the service is missing
    QSignalSpy channel(form.get(), &MainForm::SetStreamChannel);
    form->show();
    Child<QStackedWidget>(*form, "stackedWidget_usb_step")->setCurrentWidget(Child(*form, "page_checkLink"));

    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_wire_link_1"), Qt::LeftButton);  // already chosen
    EXPECT_EQ(channel.count(), 0);
    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_usb_link_1"), Qt::LeftButton);
    ASSERT_EQ(channel.count(), 1);
    EXPECT_EQ(channel.takeFirst().at(0).toInt(), 2);
    EXPECT_EQ(Child<QStackedWidget>(*form, "stackedWidget_usb_step")->currentWidget(),
              Child(*form, "page_noLink"));
    // The form does not turn its own page: the main window answers.
    EXPECT_EQ(form->CurrentPage(), MainForm::kPageWaitLink);

    form->ShowState(MainForm::kUsbWaiting);
    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_usb_link_2"), Qt::LeftButton);  // already chosen
    EXPECT_EQ(channel.count(), 0);
    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_wire_link_2"), Qt::LeftButton);
    ASSERT_EQ(channel.count(), 1);
    EXPECT_EQ(channel.takeFirst().at(0).toInt(), 0);
}

TEST_F(MainFormTest, IosServiceTipFollowsTheServiceFlag) {
    QWidget* tip = Child(*form, "pushButton_ios_usb_server_tips");
    app->appleMobileDeviceInstalled = false;
    form->UpdateIosServiceTip();
    EXPECT_FALSE(tip->isHidden());
    app->appleMobileDeviceInstalled = true;
    form->UpdateIosServiceTip();
    EXPECT_TRUE(tip->isHidden());
    EXPECT_EQ(tip->toolTip(), QString::fromUtf8("检测到未安装ios USB设备支持服务，点击重新检测。"));
}

TEST_F(MainFormTest, MissingIosServiceIsOfferedOnceByTheUsbButtonAndAgainByTheTip) {
    qputenv("USBMUXD_SOCKET_ADDRESS", "UNIX:/nonexistent/usbmuxd");
    zucam::test::DialogRecorder boxes(0);
    form->show();
    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_usb_link_1"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_usb_link_1"), Qt::LeftButton);
    EXPECT_FALSE(app->appleMobileDeviceInstalled);
    EXPECT_EQ(boxes.count("IosUsbServerDialog"), 1);
    form->ShowState(MainForm::kUsbWaiting);
    Child<QStackedWidget>(*form, "stackedWidget_usb_step")->setCurrentWidget(Child(*form, "page_noLink"));
    form->UpdateIosServiceTip();
    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_ios_usb_server_tips"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>(*form, "pushButton_ios_usb_server_tips"), Qt::LeftButton);
    EXPECT_EQ(boxes.count("IosUsbServerDialog"), 3);
    qunsetenv("USBMUXD_SOCKET_ADDRESS");
}

TEST_F(MainFormTest, HowToOpenLinkRunsTheUsbHelp) {
    zucam::test::DialogRecorder dialogs;
    emit Child<QLabel>(*form, "label_how_to_open")->linkActivated("Open Help");
    EXPECT_EQ(dialogs.dialogs(), QStringList({"OpenUSBHelpDialog"}));
}

TEST_F(MainFormTest, NamesAreShownAsPlainText) {
    form->ShowConnectedDevice("<b>Eve</b>");
    QLabel* success = Child<QLabel>(*form, "label_success");
    EXPECT_EQ(success->text(), QString::fromUtf8("连接成功\n<b>Eve</b>"));
    EXPECT_EQ(success->textFormat(), Qt::PlainText);
    EXPECT_EQ(Child<QLabel>(*form, "label_device_name")->textFormat(), Qt::PlainText);
    EXPECT_EQ(Child<QLabel>(*form, "label_device_name")->text(), app->deviceName);
}

TEST_F(MainFormTest, StretchReachesBothPreviews) {
    form->SetPreviewStretch(true);
    EXPECT_TRUE(Child<PainterWidget>(*form, "painterWidget")->stretch());
    EXPECT_TRUE(Child<OpenGLWidget>(*form, "openGLWidget")->stretch());
    form->SetPreviewStretch(false);
    EXPECT_FALSE(Child<PainterWidget>(*form, "painterWidget")->stretch());
    EXPECT_FALSE(Child<OpenGLWidget>(*form, "openGLWidget")->stretch());
}

}  // namespace
