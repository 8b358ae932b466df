#include "driver/Process.h"

#include "driver/Main.h"

namespace vemox {

void TKibProcess::OnTimer(TComPortDriver&) noexcept {}

} // namespace vemox
