// The command channel's framing: a u32 big-endian length N, then N bytes of
// UTF-8 JSON. The reader refuses frames over 4092 bytes of text and more
// than 4096 bytes held at once; the writer has no limit.
#pragma once

#include <string>
#include <vector>

#include "parser/command_frame_buffer.h"

// Appends length bytes to buffer and appends the text of every complete
// frame to out, in arrival order; an incomplete tail is kept. Returns false
// when the channel is broken (negative length, more than 4096 bytes held, a
// frame longer than 4092). Called on the command connection's reactor thread.
bool ParseCommandFrames(CommandFrameBuffer* buffer, const char* data, int length, std::vector<std::string>* out);

// The frame that carries json: its length field and the text.
std::string MakeCommandFrame(const std::string& json);
