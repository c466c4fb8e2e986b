// Registers the composition's named programs with a device. Called once at
// start-up, after the device exists.
#pragma once

class GsDevice;

// True when every program was accepted.
bool RegisterZucShaders(GsDevice* device);
