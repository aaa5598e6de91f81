// Thread names for debuggers and system tools, each system by its own means
// (hid/linux/thread_name.cpp, hid/windows/thread_name.cpp).
#pragma once

#include <string>

namespace mvx {

// Names the thread (-1: the calling thread) where the system can.
void NameThreadForDebuggers(const std::string& name, long thread_id);

}  // namespace mvx
