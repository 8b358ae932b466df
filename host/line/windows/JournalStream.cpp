// Windows has no journal stream: standard error is always plain.
#include "host/line/StandardError.h"

namespace vemox::host {

bool StderrIsJournal() {
    return false;
}

} // namespace vemox::host
