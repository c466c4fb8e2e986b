// The virtual audio driver, the camera driver and the two camera filters:
// installing, finding and removing them with the tools that ship beside the
// program, and the test for the iOS USB service.
//
// The tools are run as processes: the device console "devcon" (one copy under
// Drivers/audio/<x64|x86>/, one under Drivers/camera/) and "regsvr32", both
// found in the program's folder. Their command texts keep the product's
// layout (the ".inf" and ".dll" names, the hardware ids); only the ".exe"
// ending of the tools is gone. devcon's answers are recognised from its
// standard output ("Drivers installed successfully", "N matching device(s)
// found") and from its exit code (0 done, 1 done but a restart is needed).
//
// Every function blocks its caller until the tool ends or its time limit
// (30,000 ms by default) passes; a tool still running then is killed. None
// starts a tool and leaves it running: a removal has ended when its function
// returns, so an install that follows never races it. The functions share no
// state; any thread (the camera-mode switch calls them from a worker).
//
// Camera-driver commands exist only on a 64-bit system (Is64BitWindows): on
// a 32-bit one their builders give an empty text and the camera-driver
// functions report failure; the audio driver then uses its x86 folder.
#pragma once

#include <QString>

#include "devices/driver_install/driver_tool.h"

// The hardware ids and the camera driver's required version.
extern const char kAudioDriverHardwareId[];   // "*ZuWaveExtensible"
extern const char kCameraDriverHardwareId[];  // "Root\TAMRY\ZuCamera"
extern const char kRequiredCameraDriverVersion[];  // "1.0.1.1"

// The folder the tools and driver files are looked up in: the program's own
// folder, or what SetDriverToolFolderForTesting set.
QString driverToolFolder();
// Tests: points driverToolFolder at folder; an empty text restores it.
void SetDriverToolFolderForTesting(const QString& folder);

// devcon's standard output, recognised (case-sensitive, anywhere in the text).
bool devconReportsInstalled(const QString& standardOutput);
bool devconReportsDevicePresent(const QString& standardOutput);

// The command texts, every placeholder filled in one pass (a folder holding
// "%1" or "%2" stays as it is).
QString installAudioDriverCommand();
QString findAudioDriverCommand();
QString removeAudioDriverCommand();
// Empty on a 32-bit system.
QString installCameraDriverCommand();
QString removeCameraDriverCommand();
QString findCameraDriverCommand();
QString cameraDriverVersionCommand();
// bits: "32" or "64".
QString registerCameraFilterCommand(const QString& bits);
QString unregisterCameraFilterCommand(const QString& bits);
// The same with "%2" left in place for the caller's QString::arg. A caller
// should prefer the forms above: when the program's folder itself holds a
// "%" and a digit, the caller's arg fills that instead.
QString registerCameraFilterCommand();
QString unregisterCameraFilterCommand();

// Why devcon failed, as it says on a line "devcon failed: <reason>." (the
// first such line, without the prefix and the closing full stop); empty
// when it says no reason.
QString devconFailureReason(const QString& standardOutput);

// Audio driver.
// True when devcon says "Drivers installed successfully". Otherwise, when
// reason is given, it receives why, for the user: devcon's own reason, or
// that devcon could not be started or did not end in time; empty when
// nothing is known.
bool installAudioDriver(int timeoutMs = kDriverToolTimeoutMs, QString* reason = nullptr);
// True when devcon lists a matching device.
bool findAudioDriver(int timeoutMs = kDriverToolTimeoutMs);
// True when devcon ended by itself with exit code 0 or 1 (removed, or
// nothing to remove; 1: a restart completes it).
bool removeAudioDriver(int timeoutMs = kDriverToolTimeoutMs);

// Camera driver.
// False on a 32-bit system or when devcon lists no matching device. A
// present driver of another version than kRequiredCameraDriverVersion is
// removed (and the removal waited for) before false is returned; installing
// the right one is the caller's next step.
bool checkCameraDriver(int timeoutMs = kDriverToolTimeoutMs);
// Runs the removal and waits for it: true when devcon ended by itself with
// exit code 0 or 1; false on a 32-bit system.
bool removeCameraDriver(int timeoutMs = kDriverToolTimeoutMs);
// The installed camera driver's version, or an empty text when none is
// installed (or on a 32-bit system). Read from devcon's driver nodes of the
// camera's hardware id: the version of the last "Driver version is <text>"
// line.
QString getCameraDriverInfo(int timeoutMs = kDriverToolTimeoutMs);

// Camera filters: unregisters the 32-bit, then the 64-bit filter, each run
// waited for; true when both ended by themselves with exit code 0.
bool unregisterCameraFilter(int timeoutMs = kDriverToolTimeoutMs);

// True when the named system service is there. The one service the program
// asks about, "Apple Mobile Device Service", is the usbmuxd daemon here: it
// is there when the daemon's socket is (USBMUXD_SOCKET_ADDRESS as libusbmuxd
// reads it - "UNIX:<path>" or a TCP "host:port", which counts as there - or
// else /var/run/usbmuxd). Any other name: false.
bool isServiceExist(const QString& serviceName);
