#include <windows.h>
// After windows.h.
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "campaign/campaignresources.h"

namespace tarvik::campaign {
namespace {

// Handle values are multiples of four; a process of this kind holds a few
// dozen.
constexpr std::uintptr_t kHighestHandle = 0x10000;
constexpr int kObjectTypeInformation = 2;

using QueryObject = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);

QueryObject ObjectQuery() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  const FARPROC found = GetProcAddress(ntdll, "NtQueryObject");
  QueryObject query = nullptr;
  static_assert(sizeof query == sizeof found);
  std::memcpy(&query, &found, sizeof query);
  return query;
}

// The type of object a handle stands for ("File", "Thread", "Event").
std::wstring TypeOf(QueryObject query, HANDLE handle) {
  if (query == nullptr) return {};
  struct Name {
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
  };
  alignas(Name) unsigned char buffer[512];
  ULONG length = 0;
  if (query(handle, kObjectTypeInformation, buffer, sizeof buffer, &length) != 0) return {};
  const Name* name = reinterpret_cast<const Name*>(buffer);
  return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
}

}  // namespace

Resources CountResources() {
  Resources resources;
  // Every handle the process holds answers GetHandleInformation
  // (GetProcessHandleCount is not kept by every system: Wine says 0). The
  // locks of the C runtime and of the system get a waitable object of their
  // own the first time two threads meet at one, whenever that happens, and
  // keep it for the life of the process: those kinds are left out. What a
  // reflash holds and must give back, its port and its threads, are not.
  static const QueryObject query = ObjectQuery();
  int handles = 0;
  for (std::uintptr_t value = 4; value < kHighestHandle; value += 4) {
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags)) continue;
    const std::wstring type = TypeOf(query, handle);
    if (type == L"Event" || type == L"Semaphore" || type == L"KeyedEvent" || type == L"Mutant") continue;
    ++handles;
  }
  resources.descriptors = handles;
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
