#pragma once
// <gdiplus.h> with the min and max it needs, which NOMINMAX takes away from
// <windows.h>. Include this instead of <gdiplus.h>.
#include <windows.h>
#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
