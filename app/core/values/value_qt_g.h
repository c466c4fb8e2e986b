// tq::ValueQtG: a Tether value carrying a Qt GUI type (QFont, QColor).
//
// Include "core/values/value_qt.h" rather than this header: that one also
// registers these kinds with Tether, so that plain tq::Values write and read
// them too.
#pragma once

#include <QColor>
#include <QFont>
#include <cstdint>
#include <string>

#include "tether/value.h"

namespace tq {

// The payload lives in the base value's storage and the kind is its type id,
// so a ValueQtG copied into a tq::Value keeps both:
//   font   39  "[font]" + QFont::toString() (empty text for none)
//   color  40  "[color]#rrggbb", the colour's QRgb stored (alpha not written)
// Like any tq::Value, not synchronised: one thread at a time.
class ValueQtG : public Value {
public:
    // Type ids of the kinds.
    static constexpr uint16_t kFont = 39;
    static constexpr uint16_t kColor = 40;

    ValueQtG();
    ValueQtG(const QFont& font);
    // An invalid colour gives the empty value, as it has no text form.
    ValueQtG(const QColor& color);

    // A ValueQtG sharing the id and bytes of any value, e.g. one that a plain
    // tq::Value read through the registry.
    static ValueQtG fromValue(const Value& value);

    // The kind's Qt value; a default QFont, or an invalid QColor, for any
    // other kind.
    QFont toFont() const;
    QColor toColor() const;

    // The text of the table above for font and colour; other kinds as
    // tq::Value writes them.
    std::string write() const override;
    // Clears the value, then reads "[font]" and "[color]" texts itself and
    // leaves any other text to tq::Value::read. False on failure (the value
    // is then empty).
    bool read(const char* text) override;
};

// The registered writer and reader of each kind. A reader gets the tag (the
// text between "[" and "]") and the body (the text after "]") and gives the
// empty value for a body it refuses.
std::string write_font(const Value& value);
std::string write_color(const Value& value);
Value read_font(const char* tag, const char* body);
Value read_color(const char* tag, const char* body);

// Registers 40 "color" and 39 "font" with Tether on the first call in the
// process; later calls only return the same true. Safe from static
// initialisers and from any thread.
bool RegisterQtGuiValueTypes();

}  // namespace tq
