// The grab (closed hand) and release (open hand) cursors shown while the window is dragged.
#pragma once

#include "platform/window/window.h"

namespace vt {

const win::CursorImage& GrabCursorImage();
const win::CursorImage& ReleaseCursorImage();

}  // namespace vt
