// The process-wide iOS device functions: listing, pairing and naming devices
// through lockdownd (client label "libiproxy") and connecting to device
// ports, all through usbmuxd (devices reached over the network are left
// out). Blocking calls into libimobiledevice and libusbmuxd; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The UDIDs of the attached USB devices. On failure: empty, and error is
// "Unable to retrieve device list!".
std::vector<std::string> IProxyListDevices(std::string& error);

// Pairs with the device without an existing pair record. 0 on success;
// otherwise the device lookup's code - 1000 ("No device found") or a
// lockdownd code ("Could not connect to lockdownd", "QueryType failed",
// "Pair failed"): -19 means the phone shows its trust dialog, -18 that the
// user refused.
int IProxyPairDevice(const std::string& udid, std::string& error);

// The device's name through a lockdownd session. 0 and the name, or an error
// code with "No device found" (code - 1000), "Could not connect to
// lockdownd" or "Could not get device name".
int IProxyGetDeviceName(const std::string& udid, std::string& name, std::string& error);

// A connection to the device's TCP port through usbmuxd: its handle (a
// socket descriptor, owned by the caller, closed with usbmuxd_disconnect), or
// -1 when the device is not attached or refuses the port.
int IProxyConnect(const std::string& udid, uint16_t port);
