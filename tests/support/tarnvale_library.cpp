#include "tarnvale_library.h"

#include <gtest/gtest.h>

#include "file_fixture.h"

namespace tarnvale::test {

TarnvaleLibrary::TarnvaleLibrary(const char* path) : path_(path) {
    module_ = LoadLibraryA(path);
    if (module_ == nullptr) ADD_FAILURE() << "cannot load " << path << " (error " << GetLastError() << ")";
}

TarnvaleLibrary::~TarnvaleLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
}

FARPROC TarnvaleLibrary::Address(const char* name) const {
    return module_ != nullptr ? GetProcAddress(module_, name) : nullptr;
}

int TarnvaleLibrary::CallNoArguments(const char* name) const {
    using Export = int(__stdcall*)();
    FARPROC address = Address(name);
    if (address == nullptr) {
        ADD_FAILURE() << path_ << " has no export " << name;
        return -1000;
    }
    return reinterpret_cast<Export>(reinterpret_cast<void*>(address))();
}

int TarnvaleLibrary::LaunchAppAndWait(const char* commandLine) const {
    using Export = int(__stdcall*)(const char*);
    FARPROC address = Address("LaunchAppAndWait");
    if (address == nullptr) {
        ADD_FAILURE() << path_ << " has no export LaunchAppAndWait";
        return -1000;
    }
    return reinterpret_cast<Export>(reinterpret_cast<void*>(address))(commandLine);
}

namespace {

// The resource directory entry with this ID, or null.
IMAGE_RESOURCE_DIRECTORY_ENTRY* FindIdEntry(BYTE* resources, size_t size, size_t directoryOffset, WORD id) {
    if (directoryOffset + sizeof(IMAGE_RESOURCE_DIRECTORY) > size) return nullptr;
    auto* directory = reinterpret_cast<IMAGE_RESOURCE_DIRECTORY*>(resources + directoryOffset);
    auto* entries = reinterpret_cast<IMAGE_RESOURCE_DIRECTORY_ENTRY*>(directory + 1);
    const size_t count = static_cast<size_t>(directory->NumberOfNamedEntries) + directory->NumberOfIdEntries;
    if (directoryOffset + sizeof(IMAGE_RESOURCE_DIRECTORY) + count * sizeof(IMAGE_RESOURCE_DIRECTORY_ENTRY) > size) {
        return nullptr;
    }
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].NameIsString && entries[i].Id == id) return &entries[i];
    }
    return nullptr;
}

}  // namespace

bool RenumberResource(const std::string& path, WORD type, WORD fromId, WORD toId) {
    std::string image = fs::ReadFile(path);
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) return false;
    BYTE* base = reinterpret_cast<BYTE*>(&image[0]);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    // The 32-bit and 64-bit optional headers differ: take the directory from the right one.
    DWORD resourceRva = 0;
    if (nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        resourceRva = reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt)
                          ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    } else {
        resourceRva = reinterpret_cast<const IMAGE_NT_HEADERS32*>(nt)
                          ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    }
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        if (resourceRva < section->VirtualAddress || resourceRva >= section->VirtualAddress + section->SizeOfRawData) {
            continue;
        }
        const size_t start = section->PointerToRawData + (resourceRva - section->VirtualAddress);
        if (start >= image.size()) return false;
        BYTE* resources = base + start;
        const size_t size = image.size() - start;
        IMAGE_RESOURCE_DIRECTORY_ENTRY* typeEntry = FindIdEntry(resources, size, 0, type);
        if (typeEntry == nullptr || !typeEntry->DataIsDirectory) return false;
        IMAGE_RESOURCE_DIRECTORY_ENTRY* idEntry = FindIdEntry(resources, size, typeEntry->OffsetToDirectory, fromId);
        if (idEntry == nullptr) return false;
        idEntry->Id = toId;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD written = 0;
        const BOOL wrote = WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr);
        CloseHandle(file);
        return wrote && written == image.size();
    }
    return false;
}

bool IsModuleLoaded(const char* fileName) { return GetModuleHandleA(fileName) != nullptr; }

}  // namespace tarnvale::test
