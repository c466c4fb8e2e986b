#include "core/values/value_qt.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/values/value_text.h"

namespace tq {
namespace {

// Payloads of the numeric kinds, kept as raw bytes in the value's storage.
struct RectFPayload {
    double x, y, w, h;
};
struct RectPayload {
    int x, y, w, h;
};
struct PointFPayload {
    double x, y;
};
struct PointPayload {
    int x, y;
};
struct SizeFPayload {
    double w, h;
};
struct SizePayload {
    int w, h;
};

template <typename Payload>
Payload payloadOf(const Value& value) {
    Payload payload{};
    if (value.byteSize() == sizeof payload) memcpy(&payload, value.bytes(), sizeof payload);
    return payload;
}

// The payload of `value` when it is of kind `type`, zeros otherwise.
template <typename Payload>
Payload payloadOf(const Value& value, uint16_t type) {
    return value.type() == type ? payloadOf<Payload>(value) : Payload{};
}

template <typename Payload>
Value valueOf(uint16_t type, const Payload& payload, const char* format) {
    Value value;
    value.fast_set(type, &payload, sizeof payload, format);
    return value;
}

// QRect keeps its last pixel (start + length - 1); the extremes of int wrap
// around as in two's complement rather than overflowing.
int lastPixel(int start, int length) {
    return static_cast<int>(static_cast<uint32_t>(start) + static_cast<uint32_t>(length) - 1u);
}
int lengthBetween(int first, int last) {
    return static_cast<int>(static_cast<uint32_t>(last) - static_cast<uint32_t>(first) + 1u);
}

ValueReader qtReaderFor(const char* tag) {
    if (strncmp(tag, "qstr:", 5) == 0) return &read_qstr;
    static const struct {
        const char* name;
        ValueReader reader;
    } kReaders[] = {
        {"rectf", &read_rectf}, {"rect", &read_rect}, {"pointf", &read_pointf}, {"point", &read_point},
        {"sizef", &read_sizef}, {"size", &read_size},
    };
    for (const auto& entry : kReaders) {
        if (strcmp(tag, entry.name) == 0) return entry.reader;
    }
    return nullptr;
}

constexpr char kRectFormat[] = "x:%d;y:%d;w:%d;h:%d";
constexpr char kRectFFormat[] = "x:%lf;y:%lf;w:%lf;h:%lf";
constexpr char kPointFormat[] = "x:%d;y:%d";
constexpr char kPointFFormat[] = "x:%lf;y:%lf";
constexpr char kSizeFormat[] = "w:%d;h:%d";
constexpr char kSizeFFormat[] = "w:%lf;h:%lf";

}  // namespace

ValueQt::ValueQt() = default;

ValueQt::ValueQt(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    fast_set(kQString, utf8.constData(), static_cast<size_t>(utf8.size()));
}

ValueQt::ValueQt(const QRectF& rect) {
    const RectFPayload payload{rect.x(), rect.y(), rect.width(), rect.height()};
    fast_set(kRectF, &payload, sizeof payload, kRectFFormat);
}

ValueQt::ValueQt(const QRect& rect) {
    const RectPayload payload{rect.left(), rect.top(), lengthBetween(rect.left(), rect.right()),
                              lengthBetween(rect.top(), rect.bottom())};
    fast_set(kRect, &payload, sizeof payload, kRectFormat);
}

ValueQt::ValueQt(const QPointF& point) {
    const PointFPayload payload{point.x(), point.y()};
    fast_set(kPointF, &payload, sizeof payload, kPointFFormat);
}

ValueQt::ValueQt(const QPoint& point) {
    const PointPayload payload{point.x(), point.y()};
    fast_set(kPoint, &payload, sizeof payload, kPointFormat);
}

ValueQt::ValueQt(const QSizeF& size) {
    const SizeFPayload payload{size.width(), size.height()};
    fast_set(kSizeF, &payload, sizeof payload, kSizeFFormat);
}

ValueQt::ValueQt(const QSize& size) {
    const SizePayload payload{size.width(), size.height()};
    fast_set(kSize, &payload, sizeof payload, kSizeFormat);
}

ValueQt ValueQt::fromValue(const Value& value) {
    ValueQt result;
    static_cast<Value&>(result) = value;
    return result;
}

QString ValueQt::toQString() const {
    if (type() != kQString && type() != kText) return QString();
    return QString::fromUtf8(bytes(), static_cast<int>(byteSize()));
}

QRectF ValueQt::toRectF() const {
    if (type() != kRectF) return QRectF();
    const RectFPayload p = payloadOf<RectFPayload>(*this);
    return QRectF(p.x, p.y, p.w, p.h);
}

QRect ValueQt::toRect() const {
    if (type() != kRect) return QRect();
    const RectPayload p = payloadOf<RectPayload>(*this);
    QRect rect;
    rect.setCoords(p.x, p.y, lastPixel(p.x, p.w), lastPixel(p.y, p.h));
    return rect;
}

QPointF ValueQt::toPointF() const {
    if (type() != kPointF) return QPointF();
    const PointFPayload p = payloadOf<PointFPayload>(*this);
    return QPointF(p.x, p.y);
}

QPoint ValueQt::toPoint() const {
    if (type() != kPoint) return QPoint();
    const PointPayload p = payloadOf<PointPayload>(*this);
    return QPoint(p.x, p.y);
}

QSizeF ValueQt::toSizeF() const {
    if (type() != kSizeF) return QSizeF();
    const SizeFPayload p = payloadOf<SizeFPayload>(*this);
    return QSizeF(p.w, p.h);
}

QSize ValueQt::toSize() const {
    if (type() != kSize) return QSize();
    const SizePayload p = payloadOf<SizePayload>(*this);
    return QSize(p.w, p.h);
}

std::string ValueQt::write() const {
    switch (type()) {
    case kQString: return write_qstr(*this);
    case kRectF: return write_rectf(*this);
    case kRect: return write_rect(*this);
    case kPointF: return write_pointf(*this);
    case kPoint: return write_point(*this);
    case kSizeF: return write_sizef(*this);
    case kSize: return write_size(*this);
    default: return Value::write();
    }
}

bool ValueQt::read(const char* text) { return value_text::readTagged(*this, text, &qtReaderFor); }

std::string write_qstr(const Value& value) {
    std::string text = "[qstr:" + std::to_string(value.byteSize()) + "]";
    text.append(value.bytes(), value.byteSize());
    return text;
}

std::string write_rectf(const Value& value) {
    const RectFPayload p = payloadOf<RectFPayload>(value, ValueQt::kRectF);
    const double fields[] = {p.x, p.y, p.w, p.h};
    return value_text::writeDoubleFields("rectf", "xywh", fields, 4);
}

std::string write_rect(const Value& value) {
    const RectPayload p = payloadOf<RectPayload>(value, ValueQt::kRect);
    const int fields[] = {p.x, p.y, p.w, p.h};
    return value_text::writeIntFields("rect", "xywh", fields, 4);
}

std::string write_pointf(const Value& value) {
    const PointFPayload p = payloadOf<PointFPayload>(value, ValueQt::kPointF);
    const double fields[] = {p.x, p.y};
    return value_text::writeDoubleFields("pointf", "xy", fields, 2);
}

std::string write_point(const Value& value) {
    const PointPayload p = payloadOf<PointPayload>(value, ValueQt::kPoint);
    const int fields[] = {p.x, p.y};
    return value_text::writeIntFields("point", "xy", fields, 2);
}

std::string write_sizef(const Value& value) {
    const SizeFPayload p = payloadOf<SizeFPayload>(value, ValueQt::kSizeF);
    const double fields[] = {p.w, p.h};
    return value_text::writeDoubleFields("sizef", "wh", fields, 2);
}

std::string write_size(const Value& value) {
    const SizePayload p = payloadOf<SizePayload>(value, ValueQt::kSize);
    const int fields[] = {p.w, p.h};
    return value_text::writeIntFields("size", "wh", fields, 2);
}

Value read_qstr(const char* tag, const char* body) {
    const char* colon = tag != nullptr ? strchr(tag, ':') : nullptr;
    if (colon == nullptr || colon[1] == '\0') {
        fprintf(stderr, "> tq::Value:read() err: type='%s', missing 'len'.\n", tag != nullptr ? tag : "");
        return Value();
    }
    size_t length = 0;
    if (!ParseDecimalLength(colon + 1, &length)) return Value();
    if (body == nullptr) body = "";
    const size_t available = strnlen(body, length);
    if (available + 1 < length) return Value();  // more than the body and a NUL
    Value value;
    value.fast_set(ValueQt::kQString, body, available);
    return value;
}

Value read_rectf(const char* /*tag*/, const char* body) {
    double f[4];
    if (!value_text::readDoubleFields(body, f, 4)) return Value();
    return valueOf(ValueQt::kRectF, RectFPayload{f[0], f[1], f[2], f[3]}, kRectFFormat);
}

Value read_rect(const char* /*tag*/, const char* body) {
    int f[4];
    if (!value_text::readIntFields(body, f, 4)) return Value();
    return valueOf(ValueQt::kRect, RectPayload{f[0], f[1], f[2], f[3]}, kRectFormat);
}

Value read_pointf(const char* /*tag*/, const char* body) {
    double f[2];
    if (!value_text::readDoubleFields(body, f, 2)) return Value();
    return valueOf(ValueQt::kPointF, PointFPayload{f[0], f[1]}, kPointFFormat);
}

Value read_point(const char* /*tag*/, const char* body) {
    int f[2];
    if (!value_text::readIntFields(body, f, 2)) return Value();
    return valueOf(ValueQt::kPoint, PointPayload{f[0], f[1]}, kPointFormat);
}

Value read_sizef(const char* /*tag*/, const char* body) {
    double f[2];
    if (!value_text::readDoubleFields(body, f, 2)) return Value();
    return valueOf(ValueQt::kSizeF, SizeFPayload{f[0], f[1]}, kSizeFFormat);
}

Value read_size(const char* /*tag*/, const char* body) {
    int f[2];
    if (!value_text::readIntFields(body, f, 2)) return Value();
    return valueOf(ValueQt::kSize, SizePayload{f[0], f[1]}, kSizeFormat);
}

bool RegisterQtValueTypes() {
    // A function-local static: initialised once, thread-safely, on the first
    // call, whichever file's static initialiser makes it.
    static const bool registered = [] {
        regist_value_type(ValueQt::kQString, "qstr", &write_qstr, &read_qstr);
        regist_value_type(ValueQt::kPoint, "point", &write_point, &read_point);
        regist_value_type(ValueQt::kPointF, "pointf", &write_pointf, &read_pointf);
        regist_value_type(ValueQt::kRect, "rect", &write_rect, &read_rect);
        regist_value_type(ValueQt::kRectF, "rectf", &write_rectf, &read_rectf);
        regist_value_type(ValueQt::kSize, "size", &write_size, &read_size);
        regist_value_type(ValueQt::kSizeF, "sizef", &write_sizef, &read_sizef);
        return true;
    }();
    return registered;
}

}  // namespace tq
