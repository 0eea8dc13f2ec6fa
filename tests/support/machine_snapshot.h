// A picture of the whole machine as the library can reach it: every key and
// value below HKEY_LOCAL_MACHINE and HKEY_CLASSES_ROOT (the machine's classes,
// below HKLM\SOFTWARE\Classes, and the user's), and every file and
// folder of drive C:. Two pictures, taken before and after a call, tell
// exactly what the call removed, added or changed anywhere. The picture is
// the same whatever the test's architecture: both registry views (the 32-bit
// one below SOFTWARE\WOW6432Node) and the real system folders, not the ones
// a 32-bit process is redirected to.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarnvale::test {

class MachineSnapshot {
public:
    // Entries are "HKLM\path\" (or "HKCU\Software\Classes\path\") for a key, "HKLM\path\:name" for a value ("@" the default value)
    // (data kept for comparison), "C:\path\" for a folder, "C:\path" for a file (its
    // read-only, hidden and system attributes kept for comparison).
    static MachineSnapshot Take();

    using Entries = std::unordered_map<std::string, std::string>;  // entry -> value data, attributes of files and folders

    const Entries& entries() const { return *entries_; }

    // True when the machine is still exactly as pictured: the registry's
    // saved text is the same byte for byte and so is every file and folder.
    // Cheaper than a new picture and a comparison: the registry text is not
    // taken apart. False also where only Wine's own writes differ; Take()
    // and DescribeUnexpectedChanges tell those apart.
    bool StillTrue() const;

private:
    // Shared by copies: a picture never changes once taken.
    std::shared_ptr<const Entries> entries_ = std::make_shared<Entries>();
    std::shared_ptr<const std::string> registryText_ = std::make_shared<std::string>();
    size_t fileEntries_ = 0;
};

// Each list sorted by name.
struct MachineDifference {
    std::vector<std::string> removed;
    std::vector<std::string> added;
    std::vector<std::string> changed;
};

// The snapshot entry of the key `path` below HKEY_LOCAL_MACHINE as this
// process (and so the library under test) sees it: "HKLM\path\", and in a
// 32-bit process on 64-bit Windows "HKLM\SOFTWARE\WOW6432Node\rest\" for a
// path below SOFTWARE, which the 32-bit registry view redirects there.
std::string MachineKey(const std::string& path);

MachineDifference Compare(const MachineSnapshot& before, const MachineSnapshot& after);

// Checks that the call removed exactly the listed keys, folders and files
// (each with everything below it) and added or changed nothing. Names use the
// entry forms above; a key or folder ends with a backslash. Matching ignores case.
// Returns a description of every difference, empty when the change is exact.
std::string DescribeUnexpectedChanges(const MachineSnapshot& before, const MachineSnapshot& after,
                                      const std::vector<std::string>& expectedRemoved);

}  // namespace tarnvale::test
