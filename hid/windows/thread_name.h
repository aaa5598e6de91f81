// Thread names for Windows debuggers.
#pragma once

#include <string>

namespace mvx::win {

// NameThreadForDebuggers (hid/thread_name.h) names a thread through
// SetThreadDescription where the system has it; elsewhere it tells an attached
// debugger through the thread-naming exception, and only when one is attached.

// What the exception route does, apart: false when no debugger is attached
// (the exception would then end the process, so it is not raised).
bool AnnounceThreadNameToDebugger(const std::string& name, long thread_id);

}  // namespace mvx::win
