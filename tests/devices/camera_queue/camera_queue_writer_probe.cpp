// A queue writer in a process of its own, for the two-process tests.
//
//   camera_queue_writer_probe --name <shm name> [--frames n] [--period-us p]
//                             [--width w] [--height h] [--hold]
//
// Opens the writer (prints "opened", or "refused" / "failed" and exits 2),
// writes n pattern frames (frame k carries counter k, see TestPicture) p
// microseconds apart, prints "wrote <n>", then with --hold waits for its
// stdin to close before it closes the queue and prints "closed".
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "devices/camera_queue/shared_memory_camera_queue.h"
#include "test_picture.h"

namespace {

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

}  // namespace

int main(const int argc, char** const argv) {
    std::string name;
    long frames = 0;
    long periodUs = 0;
    int width = 64;
    int height = 48;
    bool hold = false;
    for (int i = 1; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--name") == 0 && hasValue) {
            name = argv[++i];
        } else if (std::strcmp(argv[i], "--frames") == 0 && hasValue) {
            frames = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--period-us") == 0 && hasValue) {
            periodUs = std::atol(argv[++i]);
        } else if (std::strcmp(argv[i], "--width") == 0 && hasValue) {
            width = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--height") == 0 && hasValue) {
            height = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--hold") == 0) {
            hold = true;
        }
    }
    if (name.empty()) return 1;

    SharedMemoryCameraQueue::OpenResult result = SharedMemoryCameraQueue::OpenResult::Failed;
    auto queue = SharedMemoryCameraQueue::CreateWriter(name, kCameraQueueFrameCapacity, &result);
    if (!queue) {
        Say(result == SharedMemoryCameraQueue::OpenResult::WriterExists ? "refused" : "failed");
        return 2;
    }
    Say("opened");

    // Padded strides, as decoders give them.
    TestPicture picture(width, height, width + 32, width / 2 + 16, width / 2 + 48);
    for (long frame = 1; frame <= frames; ++frame) {
        picture.FillPattern(static_cast<uint32_t>(frame));
        queue->WriteFrame(picture.planes(), picture.strides(), picture.width(), picture.height());
        if (periodUs > 0) std::this_thread::sleep_for(std::chrono::microseconds(periodUs));
    }
    Say("wrote " + std::to_string(frames));

    if (hold) {
        char line[64];
        while (std::fgets(line, sizeof(line), stdin) != nullptr) {
        }
    }
    queue->Close();
    Say("closed");
    return 0;
}
