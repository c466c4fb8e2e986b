// The stand-in tools log each call's arguments as "[a][b c][]": one pair of
// brackets per argument, so blanks and empty arguments survive. This reads
// such a list back.
#pragma once

#include <QString>
#include <QStringList>

namespace zucam::test {

// "[a][b c][]" -> a, "b c", ""; stops at the first text outside brackets.
inline QStringList SplitBracketedArguments(const QString& bracketed) {
    QStringList arguments;
    int at = 0;
    while (at < bracketed.size() && bracketed[at] == '[') {
        const int end = bracketed.indexOf(']', at);
        if (end < 0) break;
        arguments << bracketed.mid(at + 1, end - at - 1);
        at = end + 1;
    }
    return arguments;
}

}  // namespace zucam::test
