// The process-wide virtual-microphone cache (48,000 Hz, mono, 500 ms, 16-bit):
// made by a static initialiser, alive for the whole process. The main window
// puts it in each hub's audio sink list; the virtual microphone drains it.
#pragma once

class StreamAudioSinkCache;

StreamAudioSinkCache* GetVirtualMicAudioCache();
