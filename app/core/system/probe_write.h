// The write test made before a recording or a screenshot is saved, and when
// the user picks a save folder: can a file be made where probePath points?
// Any thread.
#pragma once

#include <string>

// Creates a file of its own at probePath, writes "test" into it, closes and
// removes it; true when all of that succeeded. It never touches a file that
// is already there: the probe is created exclusively (O_CREAT | O_EXCL), and
// when probePath is taken (a file, a folder, a link, dangling or not) the
// first free name of "<probePath>.1" to "<probePath>.99" is used instead.
// Only the file the probe itself created is removed. False when no file
// could be made (no such folder, no right to write, no free name).
// probePath is a path in the file system's encoding (UTF-8 here).
bool ProbeWrite(const std::string& probePath);

// ProbeWrite(folder + "/" + probeName), one "/" between the two.
bool ProbeFolderWritable(const std::string& folder, const std::string& probeName = "zucam-test.txt");
