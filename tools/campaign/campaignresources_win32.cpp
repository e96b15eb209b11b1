#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include "campaign/campaignresources.h"

namespace tarvik::campaign {

Resources CountResources() {
  Resources resources;
  DWORD handles = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &handles)) resources.descriptors = static_cast<int>(handles);
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int threads = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
    }
    CloseHandle(snapshot);
    resources.threads = threads;
  }
  return resources;
}

}  // namespace tarvik::campaign
