#include "platform/FloatEnvironment.h"

// The only place that knows the processor: x86 keeps the state in the x87 unit and in MXCSR,
// on both pointer widths. Elsewhere the compiler's default state is left alone.
#if defined(__i386__) || defined(__x86_64__)
#define VX_X86_FLOAT 1
#else
#define VX_X86_FLOAT 0
#endif

namespace vemox::platform {

FloatControl CurrentFloatControl() noexcept {
    FloatControl control;
#if VX_X86_FLOAT
    __asm__ volatile("fnstcw %0" : "=m"(control.x87));
    __asm__ volatile("stmxcsr %0" : "=m"(control.mxcsr));
#endif
    return control;
}

void SetFloatControl(FloatControl control) noexcept {
#if VX_X86_FLOAT
    // Pending flags would trap at the next x87 instruction once their exceptions are unmasked.
    const std::uint32_t mxcsr = control.mxcsr & ~0x3Fu;
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(control.x87) : "memory");
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr) : "memory");
#else
    (void)control;
#endif
}

DriverFloatScope::DriverFloatScope() noexcept : x87Environment_{}, mxcsr_(0) {
#if VX_X86_FLOAT
    // fnstenv also masks every x87 exception, so nothing can trap before the new word is set.
    __asm__ volatile("fnstenv %0" : "=m"(x87Environment_) : : "memory");
    __asm__ volatile("stmxcsr %0" : "=m"(mxcsr_) : : "memory");
    SetFloatControl(kDriverFloatControl);
#endif
}

DriverFloatScope::~DriverFloatScope() {
#if VX_X86_FLOAT
    __asm__ volatile("ldmxcsr %0" : : "m"(mxcsr_) : "memory");
    __asm__ volatile("fldenv %0" : : "m"(x87Environment_) : "memory");
#endif
}

} // namespace vemox::platform
