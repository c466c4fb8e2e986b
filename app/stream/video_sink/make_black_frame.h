// Black pictures for sinks that blank their output when a stream ends.
#pragma once

#include "ffmpeg_handles.h"

// A new YUV420P frame of reference's width and height, black: Y 0 and U, V
// 128 in every byte of every plane line, tagged full range so that Y 0 is
// black and not "below black". The frame owns its planes (av_frame_free
// releases them) and can be cloned. Null for a null reference, a width or
// height below 1, or when the allocation fails.
AVFramePtr MakeBlackFrame(const AVFrame* reference);
