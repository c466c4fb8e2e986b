#include "parser/command_frame_buffer.h"

CommandFrameBuffer::CommandFrameBuffer() : bytes_(new char[kCapacity]) {}
