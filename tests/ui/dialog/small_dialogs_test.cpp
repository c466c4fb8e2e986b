// The rename dialog (its names, the name rules, the same-name notice, the
// blank name, the tool tip under the line edit), the picture adjustment
// (ranges, mirrored controls, each change written once, read by the camera
// source's colour-correction pass) and the mode-switch notice.
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QValidator>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

#include "support/header_drag.h"
#include "support/named_objects.h"
#include "core/tether/tq.h"
#include "ref_counted_object.h"
#include "render_test_support.h"
#include "ui/dialog/camera-model-dialog.h"
#include "ui/dialog/frame-adjustment-dialog.h"
#include "ui/dialog/modify-info-dialog.h"
#include "zuc_camera_video_source.h"
#include "zucam.h"

namespace {

QList<QObject*> HeaderButtons(const QWidget& dialog) {
    QList<QObject*> buttons;
    for (const QVariant& v : dialog.property("header_btns").toList()) buttons << v.value<QObject*>();
    return buttons;
}

// Records every UI value write while it lives, passing each on to Tether's.
class UiValueRecorder : public tq::UiValues {
public:
    UiValueRecorder() : real_(g_cd->uiValues) { g_cd->uiValues = this; }
    ~UiValueRecorder() override { g_cd->uiValues = real_; }
    tq::Value get(const char* key, const tq::Value& defaultValue) const override { return real_->get(key, defaultValue); }
    void set(const char* key, const tq::Value& value) override {
        writes.emplace_back(key, value.toInt());
        real_->set(key, value);
    }
    std::vector<std::pair<std::string, int>> writes;

private:
    tq::UiValues* const real_;
};

class DialogTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(zucamApp(), nullptr);
        QCoreApplication::processEvents();  // ZuCam loads its settings first
    }
};

// ---- ModifyInfoDialog -----------------------------------------------------

class ModifyInfoDialogTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ModifyInfoDialog::setNoticeHook([this](const QString& text) { notices << text; });
    }
    void TearDown() override {
        ModifyInfoDialog::setNoticeHook(nullptr);
        ModifyInfoDialog::setAnswerHook(nullptr);
    }
    QLineEdit* Edit(ModifyInfoDialog& d) { return d.findChild<QLineEdit*>("lineEdit_new_name"); }
    QPushButton* Button(ModifyInfoDialog& d, const char* name) { return d.findChild<QPushButton*>(name); }
    QStringList notices;
};

TEST_F(ModifyInfoDialogTest, FormHasItsNamesTextsFrameAndSize) {
    ModifyInfoDialog dialog(nullptr);
    EXPECT_EQ(dialog.objectName(), "ModifyInfoDialog");
    zucam::test::ExpectNamedObjects(dialog, {
                               {"verticalLayout_2", "QVBoxLayout", nullptr},
                               {"frame_border", "QFrame", nullptr},
                               {"verticalLayout_3", "QVBoxLayout", nullptr},
                               {"verticalLayout", "QVBoxLayout", nullptr},
                               {"label_old_name", "QLabel", "TextLabel"},
                               {"lineEdit_new_name", "QLineEdit", nullptr},
                               {"horizontalLayout", "QHBoxLayout", nullptr},
                               {"pushButton_ok", "QPushButton", "确认修改"},
                               {"pushButton_cancel", "QPushButton", "取消"},
                           });
    const double s = zucamApp()->dpiScale;
    EXPECT_EQ(dialog.size(), QSize(int(350 * s), int(115 * s)));
    EXPECT_EQ(dialog.windowFlags() & (Qt::Dialog | Qt::FramelessWindowHint), Qt::Dialog | Qt::FramelessWindowHint);
    EXPECT_EQ(HeaderButtons(dialog), (QList<QObject*>{Edit(dialog), Button(dialog, "pushButton_cancel"),
                                                      Button(dialog, "pushButton_ok")}));
    EXPECT_EQ(dialog.property("header_height").toInt(), dialog.height());
    EXPECT_FALSE(dialog.property("header_visible").toBool());
    EXPECT_EQ(Edit(dialog)->placeholderText(), QString::fromUtf8("仅允许输入中文、字母、数字和下划线"));
    EXPECT_EQ(Edit(dialog)->toolTip(), QString::fromUtf8("置空则设置为默认名称\"Zu Camera\""));
    EXPECT_TRUE(dialog.styleSheet().contains("#6BA7FF")) << "style sheet not loaded";
    zucam::test::ExpectHeaderDragMovesDialog(&dialog, "ModifyInfoDialog");
}

TEST_F(ModifyInfoDialogTest, NameRulesAcceptCjkLettersDigitsUnderscoreAndBlanksOnly) {
    ModifyInfoDialog dialog(nullptr);
    const QValidator* validator = Edit(dialog)->validator();
    ASSERT_NE(validator, nullptr);
    const struct {
        const char* text;
        bool accepted;
    } cases[] = {
        {"Zu Camera", true},      {"摄像头_01", true},  {"一龥", true},         {"", true},
        {"cam-1", false},         {"cam.1", false},     {"é", false},           {"ＡＢ", false},  // full-width
        {"\xe3\x80\x80", false},  // ideographic space
        {"tab\t", false},         {"〇", false},        {"\xe4\xb8\x80\xe9\xbe\xa6\xe9\xbe\xa7", false},  // U+9FA7
    };
    for (const auto& c : cases) {
        QString text = QString::fromUtf8(c.text);
        int pos = 0;
        EXPECT_EQ(validator->validate(text, pos) == QValidator::Acceptable, c.accepted) << c.text;
    }
    // Typed: the hyphen never reaches the text.
    QTest::keyClicks(Edit(dialog), "ab-c");
    EXPECT_EQ(Edit(dialog)->text(), "abc");
}

TEST_F(ModifyInfoDialogTest, SameNameIsRefusedWithANoticeAndTheDialogStaysOpen) {
    ModifyInfoDialog dialog(nullptr);
    dialog.SetOldName("Zu Camera");
    EXPECT_EQ(dialog.findChild<QLabel*>("label_old_name")->text(), QString::fromUtf8("曾用名称：Zu Camera"));
    dialog.show();
    Edit(dialog)->setText("  Zu Camera ");  // the same once trimmed
    QTest::mouseClick(Button(dialog, "pushButton_ok"), Qt::LeftButton);
    EXPECT_EQ(notices, QStringList{QString::fromUtf8("新名称不可与老名称一致")});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
}

TEST_F(ModifyInfoDialogTest, ResultsForANewNameABlankNameAndCancel) {
    const struct {
        const char* typed;
        const char* button;
        int result;
        const char* newName;
    } cases[] = {
        {"Desk Cam", "pushButton_ok", 1, "Desk Cam"},
        {"   ", "pushButton_ok", 1, "Zu Camera"},
        {"Desk Cam", "pushButton_cancel", 0, "Desk Cam"},
    };
    for (const auto& c : cases) {
        ModifyInfoDialog dialog(nullptr);
        dialog.SetOldName("Old Cam");
        ModifyInfoDialog::setAnswerHook([&](ModifyInfoDialog& d) {
            Edit(d)->setText(c.typed);
            Button(d, c.button)->click();
            return ModifyInfoDialog::kUseClickResult;
        });
        EXPECT_EQ(dialog.exec(), c.result) << c.typed << " " << c.button;
        EXPECT_EQ(dialog.GetNewName(), QString::fromUtf8(c.newName)) << c.typed;
    }
    EXPECT_TRUE(notices.isEmpty());
}

TEST_F(ModifyInfoDialogTest, HoverShowsTheToolTipAtOnceBelowTheEditsCentre) {
    ModifyInfoDialog dialog(nullptr);
    dialog.move(200, 150);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QLineEdit* const edit = Edit(dialog);
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(edit, &enter);
    QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 2000);
    EXPECT_EQ(QToolTip::text(), QString::fromUtf8("置空则设置为默认名称\"Zu Camera\""));
    QWidget* tip = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->inherits("QTipLabel") && w->isVisible()) tip = w;
    }
    ASSERT_NE(tip, nullptr);
    const QPoint anchor = edit->mapToGlobal(QPoint(edit->width() / 2, edit->height()));
    // Qt places a tip a few pixels right of and below the point it is given.
    EXPECT_GE(tip->y(), anchor.y());
    EXPECT_LE(tip->y(), anchor.y() + 24);
    EXPECT_GE(tip->x(), anchor.x() - 2);
    EXPECT_LE(tip->x(), anchor.x() + 24);
    QToolTip::hideText();
}

// ---- FrameAdjustmentDialog ------------------------------------------------

class FrameAdjustmentDialogTest : public DialogTest {
protected:
    template <typename T>
    T* Child(const char* name) {
        T* child = dialog->findChild<T*>(name);
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    void SetUp() override {
        DialogTest::SetUp();
        dialog = std::make_unique<FrameAdjustmentDialog>(nullptr);
    }
    std::unique_ptr<FrameAdjustmentDialog> dialog;
};

TEST_F(FrameAdjustmentDialogTest, FormHasItsNamesTextsFrameAndRanges) {
    EXPECT_EQ(dialog->objectName(), "FrameAdjustmentDialog");
    zucam::test::ExpectNamedObjects(*dialog, {
                                {"gridLayout", "QGridLayout", nullptr},
                                {"frame_backdrop", "QFrame", nullptr},
                                {"verticalLayout", "QVBoxLayout", nullptr},
                                {"widget_title", "QWidget", nullptr},
                                {"horizontalLayout", "QHBoxLayout", nullptr},
                                {"pushButton_left_spacer", "QPushButton", ""},
                                {"label_title", "QLabel", "画面调节"},
                                {"pushButton_close", "QPushButton", ""},
                                {"scrollArea_main", "QScrollArea", nullptr},
                                {"scrollAreaWidgetContents", "QWidget", nullptr},
                                {"verticalLayout_2", "QVBoxLayout", nullptr},
                                {"gridLayout_2", "QGridLayout", nullptr},
                                {"label_note_1", "QLabel", "色彩饱和度："},
                                {"horizontalSlider_color_correction", "QSlider", nullptr},
                                {"spinBox_color_correction", "QSpinBox", nullptr},
                                {"label_note_2", "QLabel", "画面亮度："},
                                {"horizontalSlider_brightness", "QSlider", nullptr},
                                {"spinBox_brightness", "QSpinBox", nullptr},
                            });
    const double s = zucamApp()->dpiScale;
    EXPECT_EQ(dialog->size(), QSize(int(400 * s), int(160 * s)));
    EXPECT_EQ(Child<QWidget>("widget_title")->height(), int(40 * s));
    EXPECT_EQ(HeaderButtons(*dialog), QList<QObject*>{Child<QPushButton>("pushButton_close")});
    EXPECT_FALSE(Child<QPushButton>("pushButton_left_spacer")->isEnabled());
    EXPECT_EQ(Child<QWidget>("scrollAreaWidgetContents")->styleSheet(), dialog->styleSheet());
    EXPECT_TRUE(dialog->styleSheet().contains("new_up.png")) << "style sheet not loaded";
    zucam::test::ExpectHeaderDragMovesDialog(dialog.get(), "FrameAdjustmentDialog");
    const struct {
        const char* name;
        int min, max;
    } ranges[] = {{"horizontalSlider_color_correction", -100, 500}, {"spinBox_color_correction", -100, 500},
                  {"horizontalSlider_brightness", -100, 100}, {"spinBox_brightness", -100, 100}};
    for (const auto& r : ranges) {
        QObject* control = dialog->findChild<QObject*>(r.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->property("minimum").toInt(), r.min) << r.name;
        EXPECT_EQ(control->property("maximum").toInt(), r.max) << r.name;
        EXPECT_EQ(control->property("value").toInt(), 0) << r.name;
    }
}

TEST_F(FrameAdjustmentDialogTest, StartsWithoutWritingAndEachChangeWritesItsValueOnce) {
    UiValueRecorder recorder;
    FrameAdjustmentDialog fresh(nullptr);
    EXPECT_TRUE(recorder.writes.empty()) << "construction wrote a UI value";

    const struct {
        const char* control;
        const char* mirror;
        int value;
        const char* key;
        int stored;
    } cases[] = {
        {"horizontalSlider_brightness", "spinBox_brightness", -37, "bright_value", -37},
        {"spinBox_brightness", "horizontalSlider_brightness", 64, "bright_value", 64},
        {"horizontalSlider_color_correction", "spinBox_color_correction", 250, "color_value", 250},
        {"spinBox_color_correction", "horizontalSlider_color_correction", -100, "color_value", -100},
        {"spinBox_color_correction", "horizontalSlider_color_correction", 600, "color_value", 500},  // clamped
        {"horizontalSlider_brightness", "spinBox_brightness", -150, "bright_value", -100},
    };
    for (const auto& c : cases) {
        recorder.writes.clear();
        QObject* control = fresh.findChild<QObject*>(c.control);
        QObject* mirror = fresh.findChild<QObject*>(c.mirror);
        ASSERT_TRUE(control && mirror);
        control->setProperty("value", c.value);
        EXPECT_EQ(mirror->property("value").toInt(), c.stored) << c.control;
        ASSERT_EQ(recorder.writes.size(), 1u) << c.control << " " << c.value;
        EXPECT_EQ(recorder.writes[0], std::make_pair(std::string(c.key), c.stored)) << c.control;
        EXPECT_FALSE(mirror->signalsBlocked()) << "the mirror's blocking was not restored";
    }
}

TEST_F(FrameAdjustmentDialogTest, TypingSixHundredIsRefusedByTheColourRange) {
    UiValueRecorder recorder;
    auto* spin = Child<QSpinBox>("spinBox_color_correction");
    dialog->show();
    spin->setFocus();
    spin->selectAll();
    QTest::keyClicks(spin, "600");
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_LE(spin->value(), 500);
    EXPECT_LE(Child<QSlider>("horizontalSlider_color_correction")->value(), 500);
    for (const auto& write : recorder.writes) EXPECT_LE(write.second, 500) << write.first;
    EXPECT_LE(g_cd->uiValues->get("color_value", tq::Value(0)).toInt(), 500);
}

TEST_F(FrameAdjustmentDialogTest, CloseHidesAndEndsExecWithTheValuesKept) {
    Child<QSlider>("horizontalSlider_brightness")->setValue(20);
    QTimer::singleShot(0, dialog.get(), [this] { Child<QPushButton>("pushButton_close")->click(); });
    dialog->exec();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(Child<QSpinBox>("spinBox_brightness")->value(), 20);
}

// The camera source reads what the dialog wrote at its next frame.
class AdjustmentReachesRender : public RenderFixture {};

TEST_F(AdjustmentReachesRender, CameraSourceUsesTheWrittenValuesAtTheNextFrame) {
    ASSERT_NE(zucamApp(), nullptr);
    FixedFrameProvider provider;
    provider.SetImage(FixedFrameProvider::Solid(4, 2, qRgb(200, 100, 50)));
    auto* source = new RefCountedObject<ZucCameraVideoSource>(QSize(4, 2), &provider);
    source->AddRef();
    source->CreateItem();
    {
        FrameAdjustmentDialog dialog(nullptr);
        dialog.findChild<QSlider*>("horizontalSlider_color_correction")->setValue(-100);
        dialog.findChild<QSpinBox*>("spinBox_brightness")->setValue(50);
        source->Prepare();
        ASSERT_NE(source->filter(), nullptr);
        EXPECT_EQ(source->filter()->saturation, -100);
        EXPECT_EQ(source->filter()->brightness, 50);
        dialog.findChild<QSpinBox*>("spinBox_color_correction")->setValue(120);
        source->Prepare();
        EXPECT_EQ(source->filter()->saturation, 120);
    }
    source->Release();
}

// ---- CameraModelDialog ----------------------------------------------------

TEST_F(DialogTest, ModeSwitchNoticeIsAFramelessLineWithoutTheCommonFrame) {
    CameraModelDialog dialog(nullptr);
    EXPECT_EQ(dialog.objectName(), "CameraModelDialog");
    zucam::test::ExpectNamedObjects(dialog, {{"gridLayout", "QGridLayout", nullptr}, {"label", "QLabel", ""}});
    EXPECT_EQ(dialog.size(), QSize(364, 43));
    EXPECT_EQ(dialog.windowFlags() & (Qt::Dialog | Qt::FramelessWindowHint), Qt::Dialog | Qt::FramelessWindowHint);
    EXPECT_FALSE(dialog.property("header_btns").isValid());
    EXPECT_TRUE(dialog.styleSheet().isEmpty());
    auto* label = dialog.findChild<QLabel*>("label");
    EXPECT_EQ(label->alignment(), Qt::AlignCenter);
    EXPECT_TRUE(label->styleSheet().contains("#333333"));
    dialog.SetText(QString::fromUtf8("正在切换模式...."));
    EXPECT_EQ(label->text(), QString::fromUtf8("正在切换模式...."));
}

}  // namespace
