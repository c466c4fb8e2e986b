// Which programs hold files: what the uninstaller names when the camera
// filters cannot go because something has them open.
//
// A process holds a file when it has it mapped (/proc/<pid>/maps) or open
// (/proc/<pid>/fd). Only processes whose /proc entries this process may read
// are seen (the user's own; all of them for root); this process is never
// listed.
#pragma once

#include <QStringList>

// The distinct program names (the executable's file name, or the process's
// short name when the executable cannot be read) of the processes that hold
// any of paths, sorted by text comparison. A path is matched as given and,
// when it exists, by its canonical form.
QStringList programsHoldingFiles(const QStringList& paths);
