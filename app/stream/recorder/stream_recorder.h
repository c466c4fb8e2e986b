// The recorder interface behind the hub's recordings (MP4, H.264 and AAC).
#pragma once

#include <memory>
#include <string>

class StreamAudioSinkCache;
class StreamManager;
class StreamVideoSinkCache;

class StreamRecorder {
public:
    virtual ~StreamRecorder() = default;
    // Why the last Start failed.
    enum class StartError {
        kNone,
        kNameTaken,  // something (a file, a link) is at the path already: nothing was opened
        kOther,
    };

    // Creates the file (UTF-8 path) as a new one and starts encoding; false
    // when it cannot. An existing file or link at the path is never opened.
    virtual bool Start(const std::string& filePath) = 0;
    virtual void Stop() = 0;
    virtual std::string GetFilePath() const = 0;
    virtual StartError startError() const { return StartError::kOther; }
};

// Null when no recorder can be made (in a build without the MP4 recorder).
std::unique_ptr<StreamRecorder> CreateStreamRecorder(StreamAudioSinkCache* audioCache,
                                                     StreamVideoSinkCache* videoCache, StreamManager* hub);
