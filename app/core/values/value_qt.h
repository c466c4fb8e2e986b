// tq::ValueQt: a Tether value carrying a Qt core type (QString, QRectF,
// QRect, QPointF, QPoint, QSizeF, QSize); tq::ValueQtG (value_qt_g.h) carries
// the GUI ones.
//
// Every source file that includes this header registers both groups of kinds
// with Tether from two static initialisers of its own (the core kinds first),
// each group once per process. So before any later static of that file runs,
// a plain tq::Value already writes and reads these kinds.
#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <cstdint>
#include <string>

#include "core/values/value_qt_g.h"
#include "tether/value.h"

namespace tq {

// The payload lives in the base value's storage and the kind is its type id,
// so a ValueQt copied into a tq::Value keeps both. Kinds and text forms:
//   qstr    31  "[qstr:<UTF-8 byte length>]" + the UTF-8 text
//   rectf   32  "[rectf]x:%lf;y:%lf;w:%lf;h:%lf"
//   rect    33  "[rect]x:%d;y:%d;w:%d;h:%d"
//   pointf  34  "[pointf]x:%lf;y:%lf"
//   point   35  "[point]x:%d;y:%d"
//   sizef   36  "[sizef]w:%lf;h:%lf"
//   size    37  "[size]w:%d;h:%d"
// Numbers are written in the C locale whatever the process locale; "%lf"
// keeps six decimals, so finer fractions do not survive the text form.
// Like any tq::Value, not synchronised: one thread at a time.
class ValueQt : public Value {
public:
    // Type ids of the kinds.
    static constexpr uint16_t kQString = 31;
    static constexpr uint16_t kRectF = 32;
    static constexpr uint16_t kRect = 33;
    static constexpr uint16_t kPointF = 34;
    static constexpr uint16_t kPoint = 35;
    static constexpr uint16_t kSizeF = 36;
    static constexpr uint16_t kSize = 37;

    ValueQt();
    ValueQt(const QString& text);
    ValueQt(const QRectF& rect);
    ValueQt(const QRect& rect);
    ValueQt(const QPointF& point);
    ValueQt(const QPoint& point);
    ValueQt(const QSizeF& size);
    ValueQt(const QSize& size);

    // A ValueQt sharing the id and bytes of any value, e.g. one that a plain
    // tq::Value read through the registry.
    static ValueQt fromValue(const Value& value);

    // The kind's Qt value, or a default-constructed one for any other kind.
    // toQString() also gives the text of Tether's own text kind.
    QString toQString() const;
    QRectF toRectF() const;
    QRect toRect() const;
    QPointF toPointF() const;
    QPoint toPoint() const;
    QSizeF toSizeF() const;
    QSize toSize() const;

    // The text of the table above for the kinds of this class; other kinds as
    // tq::Value writes them.
    std::string write() const override;
    // Clears the value, then reads the texts of this class's kinds itself and
    // leaves any other text to tq::Value::read; "<variant>" followed by any
    // text gives Tether's text kind holding that text. False on failure (the
    // value is then empty).
    bool read(const char* text) override;
};

// The registered writer and reader of each kind. A reader gets the tag (the
// text between "[" and "]") and the body (the text after "]") and gives the
// empty value for a body it refuses. The numeric readers take the numbers by
// position and skip the labels.
std::string write_qstr(const Value& value);
std::string write_rectf(const Value& value);
std::string write_rect(const Value& value);
std::string write_pointf(const Value& value);
std::string write_point(const Value& value);
std::string write_sizef(const Value& value);
std::string write_size(const Value& value);
// Takes the first <length> bytes of the body for a tag "qstr:<length>". A
// length one more than the body is also taken (older writers counted the
// terminating NUL) and gives the whole body; longer, negative or malformed
// lengths are refused. A tag without a length is reported on stderr.
Value read_qstr(const char* tag, const char* body);
Value read_rectf(const char* tag, const char* body);
Value read_rect(const char* tag, const char* body);
Value read_pointf(const char* tag, const char* body);
Value read_point(const char* tag, const char* body);
Value read_sizef(const char* tag, const char* body);
Value read_size(const char* tag, const char* body);

// Registers 31 "qstr", 35 "point", 34 "pointf", 33 "rect", 32 "rectf",
// 37 "size" and 36 "sizef" with Tether on the first call in the process;
// later calls only return the same true. Safe from static initialisers and
// from any thread.
bool RegisterQtValueTypes();

}  // namespace tq

namespace {
[[maybe_unused]] const bool s_tq_qt_value_types_registered = tq::RegisterQtValueTypes();
[[maybe_unused]] const bool s_tq_qt_gui_value_types_registered = tq::RegisterQtGuiValueTypes();
}  // namespace
