// The two forms of the library, for suites whose behaviour is meant to be
// the same in both: the full form with its own texts and dialogs, and the
// compact form, which has none and runs with the complete fixture resource
// library beside the host.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "file_fixture.h"
#include "test_paths.h"

namespace tarnvale::test {

struct LibraryForm {
    const char* name;             // part of the test names
    const char* path;             // this form built for the test's architecture
    bool compact;
    const char* resourceLibrary;  // put beside the host for the test, or null
};

inline constexpr LibraryForm kFullForm{"Full", kFullLibraryPath, false, nullptr};
inline constexpr LibraryForm kCompactForm{"Compact", kCompactLibraryPath, true, kFixtureFullPath};

// Both forms, as values for INSTANTIATE_TEST_SUITE_P or ::testing::Combine.
inline auto BothForms() { return ::testing::Values(kFullForm, kCompactForm); }

// Shows a form by its name in test output.
inline void PrintTo(const LibraryForm& form, std::ostream* out) { *out << form.name; }

// Names the test instances of a suite parameterised by the form alone.
inline std::string FormName(const ::testing::TestParamInfo<LibraryForm>& tested) { return tested.param.name; }

// The resource library of a form beside the host, as TarnvaleRes.dll, for as
// long as this lives: for the compact form the complete fixture, so that it
// behaves as the full form does.
class FormResources {
public:
    explicit FormResources(const LibraryForm& form) {
        if (form.resourceLibrary != nullptr) {
            copy_ = std::make_unique<ScopedFileCopy>(form.resourceLibrary, HostFolder() + "\\TarnvaleRes.dll");
        }
    }

private:
    std::unique_ptr<ScopedFileCopy> copy_;
};

}  // namespace tarnvale::test
