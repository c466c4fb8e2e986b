// ValueQt: the text forms of the Qt core kinds, and how read() treats
// foreign, malformed and hostile texts.
#include "core/values/value_qt.h"

#include <QVariant>
#include <cfloat>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <locale.h>
#include <string>
#include <vector>

namespace {

// "%lf" of printf in the C locale: the reference for the double kinds.
std::string printedLf(double d) {
    const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const locale_t previous = uselocale(cLocale);
    char text[512];
    snprintf(text, sizeof text, "%lf", d);
    uselocale(previous);
    freelocale(cLocale);
    return text;
}

tq::ValueQt valueQtOf(const QVariant& qt) {
    switch (qt.userType()) {
    case QMetaType::QString: return tq::ValueQt(qt.toString());
    case QMetaType::QRectF: return tq::ValueQt(qt.toRectF());
    case QMetaType::QRect: return tq::ValueQt(qt.toRect());
    case QMetaType::QPointF: return tq::ValueQt(qt.toPointF());
    case QMetaType::QPoint: return tq::ValueQt(qt.toPoint());
    case QMetaType::QSizeF: return tq::ValueQt(qt.toSizeF());
    case QMetaType::QSize: return tq::ValueQt(qt.toSize());
    default: ADD_FAILURE() << "no ValueQt kind for " << qt.typeName(); return tq::ValueQt();
    }
}

QVariant qtValueOf(const tq::ValueQt& value) {
    switch (value.type()) {
    case tq::ValueQt::kQString: return value.toQString();
    case tq::ValueQt::kRectF: return value.toRectF();
    case tq::ValueQt::kRect: return value.toRect();
    case tq::ValueQt::kPointF: return value.toPointF();
    case tq::ValueQt::kPoint: return value.toPoint();
    case tq::ValueQt::kSizeF: return value.toSizeF();
    case tq::ValueQt::kSize: return value.toSize();
    default: return QVariant();
    }
}

struct RoundTripCase {
    const char* name;
    QVariant qt;
    std::string text;
};

std::string qstrText(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return "[qstr:" + std::to_string(utf8.size()) + "]" + utf8.toStdString();
}

std::vector<RoundTripCase> roundTripCases() {
    const QString chinese = QString::fromUtf8("你好，世界");
    const QString emoji = QString::fromUtf8("camera 📷 on 🤳 phone");
    const QString blanks = QStringLiteral("  two  blanks \t and a tab ");
    const QString brackets = QStringLiteral("a]b[c:<null>;x:1");
    return {
        {"Text", QStringLiteral("hello"), "[qstr:5]hello"},
        {"EmptyText", QString(), "[qstr:0]"},
        {"TextWithBlanks", blanks, qstrText(blanks)},
        {"ChineseText", chinese, qstrText(chinese)},
        {"EmojiText", emoji, qstrText(emoji)},
        {"TextWithBrackets", brackets, qstrText(brackets)},
        {"Rect", QRect(-10, 20, 640, 480), "[rect]x:-10;y:20;w:640;h:480"},
        // The widest QRect whose corners stay within int.
        {"RectAtIntLimits", QRect(INT_MIN, INT_MAX, INT_MAX, 0), "[rect]x:-2147483648;y:2147483647;w:2147483647;h:0"},
        {"Point", QPoint(INT_MIN, INT_MAX), "[point]x:-2147483648;y:2147483647"},
        {"Size", QSize(INT_MAX, INT_MIN), "[size]w:2147483647;h:-2147483648"},
        {"RectF", QRectF(-1.5, 2.25, 0.125, -1e308),
         "[rectf]x:-1.500000;y:2.250000;w:0.125000;h:" + printedLf(-1e308)},
        {"PointF", QPointF(DBL_MAX, -DBL_MAX), "[pointf]x:" + printedLf(DBL_MAX) + ";y:" + printedLf(-DBL_MAX)},
        {"SizeF", QSizeF(-0.5, 1e308), "[sizef]w:-0.500000;h:" + printedLf(1e308)},
    };
}

void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }

class ValueQtRoundTripTest : public testing::TestWithParam<RoundTripCase> {};

TEST_P(ValueQtRoundTripTest, WritesItsTextAndReadsItBackUnchanged) {
    const RoundTripCase& c = GetParam();
    const tq::ValueQt value = valueQtOf(c.qt);
    EXPECT_EQ(qtValueOf(value), c.qt);

    const std::string text = value.write();
    EXPECT_EQ(text, c.text);

    tq::ValueQt back;
    ASSERT_TRUE(back.read(text.c_str())) << text;
    EXPECT_EQ(back.type(), value.type());
    EXPECT_TRUE(static_cast<const tq::Value&>(back) == value) << "payload bytes differ";
    EXPECT_EQ(qtValueOf(back), c.qt);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ValueQtRoundTripTest, testing::ValuesIn(roundTripCases()),
                         [](const testing::TestParamInfo<RoundTripCase>& param) { return param.param.name; });

// Texts that no Qt value can produce (QRect cannot hold these corners) still
// read and write back byte for byte, and converting them to Qt types does not
// overflow (UBSan would stop the test).
TEST(ValueQtTextTest, ExtremeNumbersSurviveTheTextForm) {
    const std::string huge = printedLf(DBL_MAX);
    const std::vector<std::string> texts = {
        "[rect]x:2147483647;y:-2147483648;w:2147483647;h:-2147483648",
        "[point]x:-2147483648;y:-2147483648",
        "[size]w:2147483647;h:2147483647",
        "[rectf]x:" + huge + ";y:-" + huge + ";w:" + huge + ";h:-" + huge,
        "[pointf]x:inf;y:-inf",
        "[sizef]w:-0.000000;h:0.000001",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        tq::ValueQt value;
        ASSERT_TRUE(value.read(text.c_str()));
        EXPECT_EQ(value.write(), text);
    }
    tq::ValueQt rect;
    ASSERT_TRUE(rect.read(texts[0].c_str()));
    EXPECT_EQ(rect.toRect().topLeft(), QPoint(INT_MAX, INT_MIN));
}

TEST(ValueQtReadTest, NumberLabelsAreSkippedWhateverTheirLength) {
    const std::string longLabel(1000, 'w');
    const std::vector<std::string> texts = {
        "[size]w:640;h:480",
        "[size]a:640;bb:480",
        "[size]" + longLabel + ":640;" + longLabel + ":480",
        "[size]w: 640;h:+480",
        "[size]w:640;h:480 and anything after the last number",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        tq::ValueQt value;
        ASSERT_TRUE(value.read(text.c_str()));
        EXPECT_EQ(value.type(), tq::ValueQt::kSize);
        EXPECT_EQ(value.toSize(), QSize(640, 480));
    }
}

// A numeric text missing a number, or with one that does not fit, leaves the
// reader's value empty; tq::Value::read then refuses it too.
TEST(ValueQtReadTest, IncompleteOrOverflowingNumbersAreRefused) {
    const std::vector<std::string> texts = {
        "[size]w:640",
        "[size]w:640;h:",
        "[size]w:640,h:480",
        "[size]w:640;:480",
        "[size]640;480",
        "[size]w:-;h:1",
        "[point]x:2147483648;y:0",
        "[point]x:0;y:-2147483649",
        "[point]x:99999999999999999999999;y:0",
        "[rect]x:1;y:2;w:3",
        "[rectf]x:1;y:2;w:3;h:nope",
        "[pointf]x:1e999;y:0",
        "[sizef]w:+-1;h:0",
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        tq::ValueQt value(QStringLiteral("previous"));
        EXPECT_FALSE(value.read(text.c_str()));
        EXPECT_EQ(value.type(), tq::Value::kNull);
        EXPECT_EQ(value.byteSize(), 0u);
    }
}

TEST(ValueQtReadTest, MalformedTextsAreRefusedAndLeaveTheValueEmpty) {
    const std::string longTag = "[" + std::string(100, 't') + "]x:1;y:2";
    const std::string longRectTag = "[rect" + std::string(96, 'f') + "]x:1;y:2;w:3;h:4";
    const char* const texts[] = {
        nullptr, "", "[a]", "abc", "[size", "[qstr:2", "<null>", "<null>[size]w:1;h:2",
        "]size]w:1;h:2", longTag.c_str(), longRectTag.c_str(),
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text != nullptr ? text : "(null)");
        tq::ValueQt value(QSize(1, 2));
        EXPECT_FALSE(value.read(text));
        EXPECT_EQ(value.type(), tq::Value::kNull);
        EXPECT_EQ(value.byteSize(), 0u);
    }
}

TEST(ValueQtReadTest, VariantTextBecomesTetherText) {
    tq::ValueQt value(QSize(1, 2));
    ASSERT_TRUE(value.read("<variant>[size]w:1;h:2 kept as text"));
    EXPECT_EQ(value.type(), tq::Value::kText);
    EXPECT_EQ(value.toStdString(), "[size]w:1;h:2 kept as text");
    EXPECT_EQ(value.toQString(), QStringLiteral("[size]w:1;h:2 kept as text"));
    EXPECT_EQ(value.write(), "[text:26][size]w:1;h:2 kept as text");
}

// Tags that are not this class's own go to tq::Value::read, which also
// reaches the registered kinds (a tag too long to dispatch here included).
TEST(ValueQtReadTest, OtherTagsAreReadByTether) {
    const struct {
        const char* text;
        uint16_t type;
        std::string rewritten;
    } cases[] = {
        {"[int]-3", tq::Value::kInt, "[int]-3"},
        {"[text:3]a]c", tq::Value::kText, "[text:3]a]c"},
        {"[color]#00ff80", tq::ValueQtG::kColor, "[color]#00ff80"},
        {"[qstr:0000000000002]ab", tq::ValueQt::kQString, "[qstr:2]ab"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        tq::ValueQt value;
        ASSERT_TRUE(value.read(c.text));
        EXPECT_EQ(value.type(), c.type);
        EXPECT_EQ(value.write(), c.rewritten);
    }
}

TEST(ValueQtReadTest, QStrLengthIsCheckedAgainstTheBody) {
    const struct {
        const char* text;
        bool ok;
        const char* bytes;
    } cases[] = {
        {"[qstr:2]ab", true, "ab"},
        {"[qstr:1]ab", true, "a"},
        {"[qstr:0]ab", true, ""},
        {"[qstr:3]ab", true, "ab"},  // counted with the terminating NUL
        {"[qstr:4]ab", false, ""},
        {"[qstr:999]ab", false, ""},
        {"[qstr:-1]ab", false, ""},
        {"[qstr:+1]ab", false, ""},
        {"[qstr:1x]ab", false, ""},
        {"[qstr:18446744073709551616]ab", false, ""},
        {"[qstr:99999999999999999999]ab", false, ""},
        {"[qstr:999999999]ab", false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        // A heap copy without slack, so that ASan sees any read past its end.
        const std::vector<char> text(c.text, c.text + strlen(c.text) + 1);
        tq::ValueQt value;
        EXPECT_EQ(value.read(text.data()), c.ok);
        EXPECT_EQ(value.type(), c.ok ? tq::ValueQt::kQString : uint16_t{tq::Value::kNull});
        EXPECT_EQ(std::string(value.bytes(), value.byteSize()), c.bytes);
    }
}

TEST(ValueQtReadTest, QStrWithoutLengthIsReportedOnStderr) {
    testing::internal::CaptureStderr();
    const tq::Value direct = tq::read_qstr("qstr", "ab");
    const std::string fromReader = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(direct.isNull());
    EXPECT_EQ(fromReader, "> tq::Value:read() err: type='qstr', missing 'len'.\n");

    testing::internal::CaptureStderr();
    tq::ValueQt value;
    EXPECT_FALSE(value.read("[qstr:]ab"));
    const std::string fromRead = testing::internal::GetCapturedStderr();
    EXPECT_NE(fromRead.find("type='qstr:', missing 'len'"), std::string::npos) << fromRead;
    EXPECT_TRUE(value.isNull());
}

TEST(ValueQtTest, AccessorsOfAnotherKindGiveDefaults) {
    const tq::ValueQt size(QSize(3, 4));
    EXPECT_EQ(size.toSize(), QSize(3, 4));
    EXPECT_EQ(size.toSizeF(), QSizeF());
    EXPECT_EQ(size.toPoint(), QPoint());
    EXPECT_EQ(size.toRect(), QRect());
    EXPECT_TRUE(size.toQString().isNull());

    const tq::ValueQt pointF(QPointF(1.5, 2.5));
    EXPECT_EQ(pointF.toPoint(), QPoint());
    EXPECT_EQ(pointF.toRectF(), QRectF());

    const tq::ValueQt empty;
    EXPECT_TRUE(empty.isNull());
    EXPECT_EQ(empty.write(), "<null>");
    EXPECT_EQ(empty.toSize(), QSize());
}

}  // namespace
