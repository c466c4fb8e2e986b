// The writer side of the shared-memory camera queue. Its implementation
// writes the named shared-memory queue that the camera filter reads.
#pragma once

#include <cstdint>

class CameraQueue {
public:
    virtual ~CameraQueue() = default;
    // Writes one planar YUV 4:2:0 picture: its three planes (Y, U, V) and
    // their line lengths in bytes. The planes are borrowed for the call.
    virtual void WriteFrame(const uint8_t* const planes[3], const int strides[3], int width, int height) = 0;
    // Publishes the picture of the last WriteFrame once more without copying
    // it: the heartbeat readers watch for. False when the queue cannot, and
    // the picture has to be written anew.
    virtual bool RepublishLastFrame() { return false; }
};
