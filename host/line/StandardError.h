// The host's messages on standard error. Under a service manager that hands standard error to
// its journal, each line carries its priority so the journal can sort and filter them.
#pragma once

#include <string>
#include <string_view>

namespace vemox::host {

// The journal's own numbers for the priorities the host uses.
enum class Priority { Error = 3, Warning = 4, Info = 6 };

// Writes `text` (one or more lines) to standard error.
void ErrorLine(Priority priority, std::string_view text);

// What a journal line looks like: each line with "<N>" in front and no terminal codes.
std::string JournalText(Priority priority, std::string_view text);

// Whether standard error is the journal's stream (JOURNAL_STREAM names its device and inode).
bool StderrIsJournal();

} // namespace vemox::host
