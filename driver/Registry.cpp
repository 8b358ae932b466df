#include "driver/Registry.h"

#include "driver/Globals.h"

namespace vemox {


void FreeCommand(TCommand* command) noexcept {
    if (command) {
        FreeKibMemory(command->Data);
        FreeKibMemory(command);
    }
}

} // namespace vemox
