// The command channel's framing: a u32 big-endian length N, then N bytes of
// UTF-8 JSON. The reader refuses frames over 4092 bytes of text and never
// holds more than 4096 bytes; the writer has no limit.
#pragma once

#include <string>
#include <vector>

#include "parser/command_frame_buffer.h"

// Takes in length bytes (in pieces the buffer has room for) and appends the
// text of every complete frame to out, in arrival order; an incomplete tail
// is kept. Returns false when the channel is broken (negative length, a
// frame longer than 4092); frames cut before that are in out. Called on the
// command connection's reactor thread.
bool ParseCommandFrames(CommandFrameBuffer* buffer, const char* data, int length, std::vector<std::string>* out);

// The frame that carries json: its length field and the text.
std::string MakeCommandFrame(const std::string& json);
