#include "parser/stream_packet_buffer.h"

// Not value-initialised: 64 MiB of zeroes per connection would be written for
// nothing, since only the bytes held are ever read.
StreamPacketBuffer::StreamPacketBuffer(uint64_t capacity) : capacity_(capacity), bytes_(new uint8_t[capacity]) {}
