// Checks a widget tree against a designer form's table: each object is
// found by name, is of its class, and labels and buttons carry their text.
#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <gtest/gtest.h>
#include <initializer_list>
#include <string>

namespace zucam::test {

struct NamedObject {
    const char* name;
    const char* className;
    const char* text;  // the designer text, or null when the code sets it
};

template <typename Table>
void ExpectNamedObjects(const QWidget& root, const Table& table) {
    const std::string where = root.objectName().toStdString();
    for (const NamedObject& expected : table) {
        const QObject* object = root.findChild<QObject*>(expected.name);
        ASSERT_NE(object, nullptr) << where << " lacks " << expected.name;
        EXPECT_TRUE(object->inherits(expected.className))
            << where << "." << expected.name << " is a " << object->metaObject()->className() << ", not a "
            << expected.className;
        if (expected.text == nullptr) continue;
        QString text;
        if (auto* label = qobject_cast<const QLabel*>(object)) text = label->text();
        if (auto* button = qobject_cast<const QAbstractButton*>(object)) text = button->text();
        EXPECT_EQ(text.toStdString(), expected.text) << where << "." << expected.name;
    }
}

inline void ExpectNamedObjects(const QWidget& root, std::initializer_list<NamedObject> table) {
    ExpectNamedObjects<std::initializer_list<NamedObject>>(root, table);
}

}  // namespace zucam::test
