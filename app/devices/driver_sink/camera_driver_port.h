// The way to the virtual camera driver: one device per machine, found on
// Open, fed one complete frame (DriverFrameHeader and I420 planes) per Write.
// StreamVideoSinkDriver owns its port and calls it under its device lock, so
// a port never sees two calls at once and needs no lock of its own.
#pragma once

#include <cstddef>
#include <cstdint>

class CameraDriverPort {
public:
    virtual ~CameraDriverPort() = default;
    // Finds and binds the driver's device. False when there is none or it
    // cannot take frames; the port then stays closed. Open on an open port
    // first closes it.
    virtual bool Open() = 0;
    // Hands one frame to the driver: a DriverFrameHeader followed by the
    // planes it describes, length bytes in all, borrowed for the call. False
    // when the driver refused it; the port stays open and takes the next one.
    virtual bool Write(const uint8_t* frame, size_t length) = 0;
    // Releases the device; nothing when closed.
    virtual void Close() = 0;
};
