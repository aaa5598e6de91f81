#include "hid/thread_name.h"

#include <pthread.h>

namespace mvx {

void NameThreadForDebuggers(const std::string& name, long thread_id) {
  // Linux names only the calling thread here, and keeps at most 15
  // characters: keep the distinctive part ("THidDeviceReadThread" becomes
  // "THidDevReadThrd").
  if (thread_id != -1) return;
  std::string shortened = name == "THidDeviceReadThread" ? "THidDevReadThrd" : name;
  if (shortened.size() > 15) shortened.resize(15);
  pthread_setname_np(pthread_self(), shortened.c_str());
}

}  // namespace mvx
