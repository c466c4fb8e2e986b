#include "adb/adb_program.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <unistd.h>

#include <set>

#include "core/tether/tq_log.h"
#include "processes/process_list.h"

namespace {

constexpr int kTerminateRounds = 10;

bool SameFile(const QFileInfo& a, const QFileInfo& b) {
    return a.exists() && b.exists() && a.canonicalFilePath() == b.canonicalFilePath();
}

// The interpreter named by a script's "#!" line; empty for anything else.
std::string ScriptInterpreter(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::string();
    const QByteArray first = file.readLine(256).trimmed();
    if (!first.startsWith("#!")) return std::string();
    const QByteArray rest = first.mid(2).trimmed();
    const int space = rest.indexOf(' ');
    return (space < 0 ? rest : rest.left(space)).toStdString();
}

bool RunsOwnAdb(const processes::ProcessEntry& entry, const std::string& ownPath, const std::string& interpreter) {
    if (entry.uid != getuid()) return false;
    if (!entry.executable.empty() && entry.executable == ownPath) return true;
    // A script copy: the kernel runs "<interpreter> <script> ...".
    return !interpreter.empty() && entry.arguments.size() >= 2 && entry.arguments[0] == interpreter &&
           entry.arguments[1] == ownPath;
}

}  // namespace

QString LocateAdbSource() {
    const QFileInfo beside(QCoreApplication::applicationDirPath() + QStringLiteral("/adb"));
    if (beside.isFile() && beside.isExecutable()) return beside.absoluteFilePath();
    return QStandardPaths::findExecutable(QStringLiteral("adb"));
}

QString OwnAdbProgramPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/adb");
}

QString PrepareOwnAdbProgram() {
    const QString target = OwnAdbProgramPath();
    QDir().mkpath(QFileInfo(target).absolutePath());
    const QString source = LocateAdbSource();
    if (source.isEmpty()) {
        LOG_W("no adb beside the program or on PATH");
        return target;
    }
    const QFileInfo from(source);
    const QFileInfo to(target);
    if (SameFile(from, to)) return target;
    if (to.exists() && to.size() == from.size() && to.lastModified() >= from.lastModified()) return target;

    // Written beside and renamed over: a running copy keeps its old file.
    QFile input(source);
    QSaveFile output(target);
    if (!input.open(QIODevice::ReadOnly) || !output.open(QIODevice::WriteOnly)) {
        LOG_E("cannot copy adb from %s to %s", qUtf8Printable(source), qUtf8Printable(target));
        return target;
    }
    while (!input.atEnd()) {
        const QByteArray block = input.read(1 << 16);
        if (block.isEmpty() || output.write(block) != block.size()) {
            output.cancelWriting();
            break;
        }
    }
    output.setPermissions(from.permissions() | QFileDevice::ExeOwner | QFileDevice::ReadOwner);
    if (!output.commit()) LOG_E("cannot copy adb from %s to %s", qUtf8Printable(source), qUtf8Printable(target));
    return target;
}

int TerminateOwnAdbProcesses(const QString& ownAdbPath) {
    const QFileInfo own(ownAdbPath);
    const std::string ownPath =
        (own.exists() ? own.canonicalFilePath() : QDir::cleanPath(own.absoluteFilePath())).toStdString();
    const std::string interpreter = ScriptInterpreter(ownAdbPath);
    std::set<pid_t> signalled;
    for (int round = 0; round < kTerminateRounds; ++round) {
        bool found = false;
        for (const processes::ProcessEntry& entry : processes::ListProcesses()) {
            if (signalled.count(entry.pid) != 0 || !RunsOwnAdb(entry, ownPath, interpreter)) continue;
            found = true;
            signalled.insert(entry.pid);
            if (processes::TerminateProcess(entry.pid)) LOG_I("ended stray adb process %d", static_cast<int>(entry.pid));
        }
        if (!found) break;
    }
    return static_cast<int>(signalled.size());
}
