// View sizes in the view tests of both platforms: compared and printed by GoogleTest,
// and asked of a view.
#pragma once

#include <gtest/gtest.h>

#include <ostream>

#include "vst3/vst3_abi.h"

namespace vst3 {
inline bool operator==(const ViewRect& a, const ViewRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline void PrintTo(const ViewRect& r, std::ostream* out) {
    *out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}
} // namespace vst3

// The view's getSize, which must succeed; {-1, -1, -1, -1} if it leaves the rectangle.
inline vst3::ViewRect size_of(vst3::IPlugView* view) {
    vst3::ViewRect r{-1, -1, -1, -1};
    EXPECT_EQ(view->vtbl->getSize(view, &r), vst3::kResultOk);
    return r;
}
