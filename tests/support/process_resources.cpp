#include "process_resources.h"

#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <vector>

namespace tarnvale::test {
namespace {

// ---- kernel handles ----

// One entry of the system's handle table (SystemExtendedHandleInformation).
struct SystemHandleEntry {
    PVOID object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct SystemHandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    SystemHandleEntry handles[1];
};

constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

// The entries of this process in the system's handle table; -1 when the
// table cannot be read.
int64_t CountHandlesInSystemTable() {
    using QuerySystemInformation = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status =
            query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0) return -1;
        break;
    }
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    int64_t count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        if (table->handles[i].processId == GetCurrentProcessId()) ++count;
    }
    return count;
}

// ---- USER objects ----

struct WindowCount {
    DWORD processId;
    int64_t windows;
};

BOOL CALLBACK CountChild(HWND window, LPARAM context) {
    auto* count = reinterpret_cast<WindowCount*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == count->processId) ++count->windows;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM context) {
    auto* count = reinterpret_cast<WindowCount*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == count->processId) {
        ++count->windows;
        EnumChildWindows(window, CountChild, context);  // all descendants
    }
    return TRUE;
}

// Every window of this process, hidden and message-only ones included: the
// USER objects that a dialog or a status window leaves behind.
int64_t CountWindows() {
    WindowCount count{GetCurrentProcessId(), 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr)) {
        CountTopLevel(window, reinterpret_cast<LPARAM>(&count));
    }
    return count.windows;
}

// ---- GDI objects ----

// One entry of the GDI handle table that the process environment block
// points to (GdiSharedHandleTable). Windows shares one table among all
// processes and names each entry's owner; Wine keeps one for each process
// and leaves the owner 0.
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;  // process ID in the low 16 bits
    USHORT unique;
    UCHAR type;  // 0 for a free entry
    UCHAR flags;
    UINT64 userPointer;
};

constexpr size_t kGdiHandleTableEntries = 0x10000;
#ifdef _WIN64
constexpr size_t kGdiTableOffsetInPeb = 0xF8;
#else
constexpr size_t kGdiTableOffsetInPeb = 0x94;
#endif

int64_t CountGdiTableEntries() {
    using QueryInformationProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<QueryInformationProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (query == nullptr ||
        query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0 ||
        basic.PebBaseAddress == nullptr) {
        return -1;
    }
    const auto* peb = reinterpret_cast<const char*>(basic.PebBaseAddress);
    const auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + kGdiTableOffsetInPeb);
    if (table == nullptr) return -1;
    const ULONG ownProcess = GetCurrentProcessId() & 0xFFFF;
    int64_t count = 0;
    for (size_t i = 0; i < kGdiHandleTableEntries; ++i) {
        const ULONG owner = table[i].owner & 0xFFFF;
        if (table[i].type != 0 && (owner == 0 || owner == ownProcess)) ++count;
    }
    return count;
}

// ---- private memory ----

int64_t SumCommittedPrivatePages() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int64_t total = 0;
    const char* address = static_cast<const char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region;
    while (address < system.lpMaximumApplicationAddress && VirtualQuery(address, &region, sizeof(region)) != 0) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += static_cast<int64_t>(region.RegionSize);
        address = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    return total;
}

// A GetGuiResources figure, or -1 where the platform does not count them.
int64_t GuiResources(DWORD kind) {
    SetLastError(ERROR_SUCCESS);
    const DWORD count = GetGuiResources(GetCurrentProcess(), kind);
    if (count == 0 && GetLastError() != ERROR_SUCCESS) return -1;
    // A process that has made a window always holds some objects: 0 means
    // the platform does not count them.
    return count == 0 ? -1 : static_cast<int64_t>(count);
}

}  // namespace

ProcessResources ProcessResources::Read() {
    ProcessResources resources;

    DWORD handleCount = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &handleCount) && handleCount != 0) {
        resources.handles = handleCount;
        resources.sources += "handles: GetProcessHandleCount; ";
    } else {
        resources.handles = CountHandlesInSystemTable();
        resources.sources += "handles: system handle table; ";
    }

    resources.userObjects = GuiResources(GR_USEROBJECTS);
    if (resources.userObjects >= 0) {
        resources.sources += "USER: GetGuiResources; ";
    } else {
        resources.userObjects = CountWindows();
        resources.sources += "USER: windows of the process; ";
    }

    resources.gdiObjects = GuiResources(GR_GDIOBJECTS);
    if (resources.gdiObjects >= 0) {
        resources.sources += "GDI: GetGuiResources; ";
    } else {
        resources.gdiObjects = CountGdiTableEntries();
        resources.sources += "GDI: GDI handle table; ";
    }

    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory)) &&
        memory.PrivateUsage != 0) {
        resources.privateBytes = static_cast<int64_t>(memory.PrivateUsage);
        resources.sources += "private: PrivateUsage";
    } else {
        resources.privateBytes = SumCommittedPrivatePages();
        resources.sources += "private: committed private pages";
    }
    return resources;
}

std::string Describe(const ProcessResources& resources) {
    return "handles " + std::to_string(resources.handles) + ", USER " + std::to_string(resources.userObjects) +
           ", GDI " + std::to_string(resources.gdiObjects) + ", private " +
           std::to_string(resources.privateBytes / 1024) + " KiB";
}

}  // namespace tarnvale::test
