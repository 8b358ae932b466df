// The service manager names the journal's stream by "device:inode"; standard error is that
// stream only while it was not redirected elsewhere since.
#include "host/line/StandardError.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace vemox::host {

bool StderrIsJournal() {
    const char* stream = std::getenv("JOURNAL_STREAM");
    struct stat info {};
    if (!stream || ::fstat(2, &info) != 0) {
        return false;
    }
    const std::string own = std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
                            std::to_string(static_cast<unsigned long long>(info.st_ino));
    return own == stream;
}

} // namespace vemox::host
