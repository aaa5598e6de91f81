// Thread names for Windows debuggers.
#pragma once

#include <string>

namespace mvx::win {

// Names the thread (-1: the calling thread) through SetThreadDescription where
// the system has it; elsewhere tells an attached debugger through the
// thread-naming exception, and only when one is attached.
void NameThreadForDebuggers(const std::string& name, long thread_id);

// What the exception route does, apart: false when no debugger is attached
// (the exception would then end the process, so it is not raised).
bool AnnounceThreadNameToDebugger(const std::string& name, long thread_id);

}  // namespace mvx::win
