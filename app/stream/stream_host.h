// What the stream hub asks of the program that runs it: the few settings and
// flags that its replies and recordings depend on. The engine never includes
// the application's own headers; the application hands the hub an object of
// this kind (ZuCam is one), tests hand it one of their own.
#pragma once

#include <QString>

class StreamHost {
public:
    virtual ~StreamHost() = default;
    // All four are called on the hub's thread. The answers may change at any
    // time on the owner's thread; an implementation keeps them readable from
    // another thread.

    // The folder recordings go to; empty when none is set.
    virtual QString RecordingFolder() const = 0;
    // Whether the picture is sent on to the outputs ("vstate" in replies).
    virtual bool VideoTransportOn() const = 0;
    // Whether the virtual microphone is open ("astate").
    virtual bool VirtualMicOpen() const = 0;
    // Whether the virtual audio driver is installed ("ainstall").
    virtual bool AudioDriverInstalled() const = 0;
};
