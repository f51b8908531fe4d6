// Restamps the buffers leaving a pad with their running time and replaces the pad's segment with
// one that starts at 0. Some encoders (the libav video encoders among them) shift their output
// into a segment that starts at 1000 hours so that decoding times never go negative; a muxer that
// writes buffer times as they are (asfmux) then writes a file that claims to last 1000 hours.
// Installed on an encoder's output, this keeps every stream of a file on one time line that
// starts where the recording started.
#pragma once

#include <gst/gst.h>

namespace kelo {

// Installs the probe on `pad` (borrowed; the probe lives as long as the pad). Runs on the pad's
// streaming thread.
void StampWithRunningTime(GstPad* pad);

} // namespace kelo
