// The Qt kinds as Tether sees them: registered under their ids and names by
// including value_qt.h, so that plain tq::Values (and maps of them) write and
// read them.
#include "core/values/value_qt.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// Made by a static initialiser of this file, after those of value_qt.h.
const std::string s_sizeTextAtStartup = tq::Value(tq::ValueQt(QSize(3, 4))).write();

struct KindCase {
    tq::Value value;  // a Qt kind copied into the base class
    uint16_t type;
    std::string text;
};

std::vector<KindCase> kindCases() {
    return {
        {tq::ValueQt(QStringLiteral("a b")), 31, "[qstr:3]a b"},
        {tq::ValueQt(QRectF(0.5, 1, 2, 3)), 32, "[rectf]x:0.500000;y:1.000000;w:2.000000;h:3.000000"},
        {tq::ValueQt(QRect(1, 2, 3, 4)), 33, "[rect]x:1;y:2;w:3;h:4"},
        {tq::ValueQt(QPointF(-1, 2)), 34, "[pointf]x:-1.000000;y:2.000000"},
        {tq::ValueQt(QPoint(-1, 2)), 35, "[point]x:-1;y:2"},
        {tq::ValueQt(QSizeF(4, 5)), 36, "[sizef]w:4.000000;h:5.000000"},
        {tq::ValueQt(QSize(4, 5)), 37, "[size]w:4;h:5"},
        {tq::ValueQtG(QFont(QStringLiteral("DejaVu Sans"), 10)), 39,
         "[font]" + QFont(QStringLiteral("DejaVu Sans"), 10).toString().toStdString()},
        {tq::ValueQtG(QColor(1, 2, 3)), 40, "[color]#010203"},
    };
}

TEST(ValueQtRegistrationTest, EveryKindIsWrittenAndReadByAPlainValue) {
    for (const KindCase& c : kindCases()) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.value.type(), c.type);
        EXPECT_EQ(c.value.write(), c.text);

        tq::Value back;
        ASSERT_TRUE(back.read(c.text.c_str()));
        EXPECT_EQ(back.type(), c.type);
        EXPECT_TRUE(back == c.value) << "payload bytes differ";
    }
}

TEST(ValueQtRegistrationTest, StaticsOfAnIncludingFileSeeTheKindsRegistered) {
    EXPECT_EQ(s_sizeTextAtStartup, "[size]w:3;h:4");
}

TEST(ValueQtRegistrationTest, PlainValueReadsQStrText) {
    tq::Value value;
    ASSERT_TRUE(value.read("[qstr:6]hé!!"));  // "é" is two bytes
    EXPECT_EQ(value.type(), tq::ValueQt::kQString);
    EXPECT_EQ(value.toStdString(), "hé!!");
    EXPECT_EQ(tq::ValueQt::fromValue(value).toQString(), QString::fromUtf8("hé!!"));
}

TEST(ValueQtRegistrationTest, SlicedValueKeepsItsIdAndBytes) {
    const tq::ValueQt size(QSize(640, 480));
    const tq::Value sliced = size;
    EXPECT_EQ(sliced.type(), tq::ValueQt::kSize);
    ASSERT_EQ(sliced.byteSize(), size.byteSize());
    EXPECT_EQ(std::string(sliced.bytes(), sliced.byteSize()), std::string(size.bytes(), size.byteSize()));
    EXPECT_EQ(sliced.write(), "[size]w:640;h:480");
    EXPECT_EQ(tq::ValueQt::fromValue(sliced).toSize(), QSize(640, 480));

    tq::Value assigned;
    assigned = tq::ValueQtG(QColor(Qt::red));
    EXPECT_EQ(assigned.write(), "[color]#ff0000");
    EXPECT_EQ(tq::ValueQtG::fromValue(assigned).toColor(), QColor(Qt::red));
}

TEST(ValueQtRegistrationTest, QtKindsTravelInsideTetherMaps) {
    tq::ValueMap map;
    map["title"] = tq::ValueQt(QStringLiteral("front ]camera["));
    map["frame"] = tq::ValueQt(QSize(1920, 1080));
    map["tint"] = tq::ValueQtG(QColor(0x20, 0x40, 0x60));
    map["count"] = tq::Value(3);
    const std::string text = tq::Value(map).write();

    tq::Value back;
    ASSERT_TRUE(back.read(text.c_str())) << text;
    const tq::ValueMap read = back.toMap();
    EXPECT_EQ(read, map);
    EXPECT_EQ(tq::ValueQt::fromValue(read["title"]).toQString(), QStringLiteral("front ]camera["));
    EXPECT_EQ(tq::ValueQt::fromValue(read["frame"]).toSize(), QSize(1920, 1080));
    EXPECT_EQ(tq::ValueQtG::fromValue(read["tint"]).toColor(), QColor(0x20, 0x40, 0x60));
}

std::string overriddenPointWriter(const tq::Value&) { return "[point]overridden"; }
std::string overriddenFontWriter(const tq::Value&) { return "[font]overridden"; }

// Replaces one kind of each group with a writer of its own, and puts the real
// ones back afterwards for the other tests of this process.
class ValueQtRegistrationOnceTest : public testing::Test {
protected:
    void SetUp() override {
        tq::regist_value_type(tq::ValueQt::kPoint, "point", &overriddenPointWriter, &tq::read_point);
        tq::regist_value_type(tq::ValueQtG::kFont, "font", &overriddenFontWriter, &tq::read_font);
    }
    void TearDown() override {
        tq::regist_value_type(tq::ValueQt::kPoint, "point", &tq::write_point, &tq::read_point);
        tq::regist_value_type(tq::ValueQtG::kFont, "font", &tq::write_font, &tq::read_font);
    }
};

TEST_F(ValueQtRegistrationOnceTest, LaterCallsDoNotRegisterAgain) {
    EXPECT_TRUE(tq::RegisterQtValueTypes());
    EXPECT_TRUE(tq::RegisterQtGuiValueTypes());
    EXPECT_EQ(tq::Value(tq::ValueQt(QPoint(1, 2))).write(), "[point]overridden");
    EXPECT_EQ(tq::Value(tq::ValueQtG(QFont())).write(), "[font]overridden");
    // The classes' own write() does not go through the registry.
    EXPECT_EQ(tq::ValueQt(QPoint(1, 2)).write(), "[point]x:1;y:2");
}

}  // namespace
