// Flush-to-zero and denormals-are-zero for the duration of one host process call.
// Denormal filter states would otherwise cost hundreds of cycles per operation as a
// signal decays. Only these two MXCSR bits are touched; the caller's other mode bits
// (rounding, exception masks) are left as they are.
#pragma once

#include <xmmintrin.h>

class DenormalGuard {
  public:
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x40;

    DenormalGuard() : saved_(_mm_getcsr()) {
        _mm_setcsr(_mm_getcsr() | kFlushToZero);
        _mm_setcsr(_mm_getcsr() | kDenormalsAreZero);
    }
    ~DenormalGuard() {
        const unsigned bits = kFlushToZero | kDenormalsAreZero;
        _mm_setcsr((_mm_getcsr() & ~bits) | (saved_ & bits));
    }
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;

  private:
    unsigned saved_;
};
