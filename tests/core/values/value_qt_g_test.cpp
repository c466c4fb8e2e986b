// ValueQtG: the text forms of fonts and colours.
#include "core/values/value_qt.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(ValueQtGTest, FontsRoundTripThroughTheirText) {
    QFont bold(QStringLiteral("DejaVu Sans"), 11, QFont::Bold, true);
    QFont pixels(QStringLiteral("Noto Sans CJK SC"));
    pixels.setPixelSize(23);
    pixels.setUnderline(true);
    for (const QFont& font : {bold, pixels, QFont()}) {
        SCOPED_TRACE(font.toString().toStdString());
        const tq::ValueQtG value(font);
        EXPECT_EQ(value.type(), tq::ValueQtG::kFont);
        const std::string text = value.write();
        EXPECT_EQ(text, "[font]" + font.toString().toStdString());

        tq::ValueQtG back;
        ASSERT_TRUE(back.read(text.c_str()));
        EXPECT_EQ(back.type(), tq::ValueQtG::kFont);
        EXPECT_EQ(back.toFont(), font);
        EXPECT_EQ(back.toFont().toString(), font.toString());
    }
}

TEST(ValueQtGTest, EmptyFontTextReadsAsTheDefaultFont) {
    tq::ValueQtG value;
    ASSERT_TRUE(value.read("[font]"));
    EXPECT_EQ(value.type(), tq::ValueQtG::kFont);
    EXPECT_EQ(value.byteSize(), 0u);
    EXPECT_EQ(value.write(), "[font]");
    EXPECT_EQ(value.toFont(), QFont());
}

TEST(ValueQtGTest, ColoursRoundTripAsSixHexDigits) {
    const struct {
        QColor color;
        const char* text;
    } cases[] = {
        {QColor(0x12, 0xab, 0xef), "[color]#12abef"},
        {QColor(Qt::black), "[color]#000000"},
        {QColor(Qt::white), "[color]#ffffff"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const tq::ValueQtG value(c.color);
        EXPECT_EQ(value.write(), c.text);
        tq::ValueQtG back;
        ASSERT_TRUE(back.read(c.text));
        EXPECT_EQ(back.type(), tq::ValueQtG::kColor);
        EXPECT_EQ(back.toColor(), c.color);
        EXPECT_TRUE(static_cast<const tq::Value&>(back) == value);
    }
}

TEST(ValueQtGTest, ColourAlphaIsNotWrittenAndReadsBackOpaque) {
    const tq::ValueQtG value(QColor(255, 0, 0, 128));
    EXPECT_EQ(value.toColor().alpha(), 128);
    EXPECT_EQ(value.write(), "[color]#ff0000");

    tq::ValueQtG back;
    ASSERT_TRUE(back.read(value.write().c_str()));
    EXPECT_EQ(back.toColor(), QColor(255, 0, 0));
    EXPECT_EQ(back.toColor().alpha(), 255);
}

TEST(ValueQtGTest, ColourTextsAreReadAsQColorNames) {
    const struct {
        const char* text;
        bool ok;
        QRgb rgba;
    } cases[] = {
        {"[color]red", true, 0xffff0000},
        {"[color]#abc", true, 0xffaabbcc},
        {"[color]#80102030", true, 0x80102030},
        {"[color]no such colour", false, 0},
        {"[color]#12345", false, 0},
        {"[color]", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        tq::ValueQtG value(QColor(Qt::blue));
        EXPECT_EQ(value.read(c.text), c.ok);
        EXPECT_EQ(value.type(), c.ok ? tq::ValueQtG::kColor : uint16_t{tq::Value::kNull});
        if (c.ok) {
            EXPECT_EQ(value.toColor().rgba(), c.rgba);
        }
    }
}

TEST(ValueQtGTest, InvalidColourAndOtherKindsGiveEmptyResults) {
    EXPECT_TRUE(tq::ValueQtG(QColor()).isNull());
    const tq::ValueQtG color(QColor(Qt::green));
    EXPECT_EQ(color.toFont(), QFont());
    const tq::ValueQtG font(QFont(QStringLiteral("DejaVu Sans"), 9));
    EXPECT_FALSE(font.toColor().isValid());
}

// The read rules are those of ValueQt; the tags of the core kinds are left to
// tq::Value::read, which reaches them through the registry.
TEST(ValueQtGTest, OtherTextsFollowTheSharedReadRules) {
    tq::ValueQtG value;
    ASSERT_TRUE(value.read("[size]w:640;h:480"));
    EXPECT_EQ(value.type(), tq::ValueQt::kSize);
    EXPECT_EQ(value.write(), "[size]w:640;h:480");

    ASSERT_TRUE(value.read("<variant>#ff0000"));
    EXPECT_EQ(value.type(), tq::Value::kText);
    EXPECT_EQ(value.toStdString(), "#ff0000");

    const std::string longTag = "[color" + std::string(100, 'x') + "]#ff0000";
    for (const char* text : {static_cast<const char*>(nullptr), "[c]", "<null>", "[color#ff0000", longTag.c_str()}) {
        SCOPED_TRACE(text != nullptr ? text : "(null)");
        tq::ValueQtG refused(QColor(Qt::red));
        EXPECT_FALSE(refused.read(text));
        EXPECT_TRUE(refused.isNull());
    }
}

}  // namespace
