// The library's own resources, read from the built files with the resource
// API: the string table, both dialog templates, the version record and the
// manifest, for the 32-bit deliverable and the 64-bit build alike; and the
// compact form's, which are its version record alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "resources/resource.h"
#include "test_paths.h"

namespace tarnvale::test {
namespace {

struct LibraryFile {
    const char* name;
    const char* path;
    WORD version[4];  // file and product version
};

const LibraryFile kFullFiles[] = {{"i686", kI686FullLibraryPath, {5, 1, 6846, 0}},
                                  {"x64", kFullLibraryPath, {5, 1, 6846, 0}}};
const LibraryFile kCompactFiles[] = {{"i686", kI686CompactLibraryPath, {3, 5, 5717, 0}},
                                     {"x64", kCompactLibraryPath, {3, 5, 5717, 0}}};

// The library file loaded as data only: nothing of it runs.
class DataFile {
public:
    explicit DataFile(const char* path)
        : module_(LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    ~DataFile() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

bool LoadText(HMODULE module, UINT id, std::string& text) {
    const wchar_t* resource = nullptr;
    const int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&resource), 0);
    if (length <= 0) return false;
    text.clear();
    for (int i = 0; i < length; ++i) text += static_cast<char>(resource[i]);
    return true;
}

const std::map<UINT, std::string>& ExpectedStrings() {
    static const std::map<UINT, std::string> strings = {
        {1, "SOFTWARE\\Nortavo, Inc.\\Borelle\\SIMS"},
        {5, "Cleaning up Sims..."},
        {6, "SOFTWARE\\Borelle"},
        {7, "Borelle Version"},
        {8, "Corvel\\Install"},
        {9, "SOFTWARE\\Borelle\\BASPATH"},
        {10, "Sims"},
        {11, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall"},
        {12, "Unable to execute %s. Error Code : %d\n"},
        {13, "%s failed to complete successfully. Error Code : %d"},
        {14, "Quillet Add-on detected. Setup failed to uninstall the add-on. Please uninstall it manually."},
        {15, "Marlowe Add-on detected. Setup failed to uninstall the add-on. Please uninstall it manually."},
        {16, "Nortavo Quillet"},
        {17, "Nortavo Marlowe"},
        {19, "Checking for Lumbrook add-ons..."},
        {20, "Uninstalling Quillet..."},
        {21, "Uninstalling Marlowe..."},
        {22, "SOFTWARE\\Nortavo, Inc.\\Borelle\\DSIMS"},
    };
    return strings;
}

// ---- dialog template reading ----

struct Control {
    int id;
    std::string className;
    std::string text;
    DWORD style;
    int x, y, cx, cy;
    bool operator==(const Control& o) const {
        return id == o.id && _stricmp(className.c_str(), o.className.c_str()) == 0 && text == o.text &&
               style == o.style && x == o.x && y == o.y && cx == o.cx && cy == o.cy;
    }
};

std::ostream& operator<<(std::ostream& out, const Control& c) {
    return out << "{id " << c.id << ", " << c.className << ", \"" << c.text << "\", style 0x" << std::hex << c.style
               << std::dec << ", (" << c.x << "," << c.y << ") " << c.cx << "x" << c.cy << "}";
}

struct Dialog {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = true;
    bool hasClass = true;
    std::string title;
    int pointSize = 0;
    std::string font;
    std::vector<Control> controls;
};

class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data), start_(data) {}
    WORD Word() {
        WORD value;
        memcpy(&value, p_, 2);
        p_ += 2;
        return value;
    }
    DWORD Dword() {
        DWORD value;
        memcpy(&value, p_, 4);
        p_ += 4;
        return value;
    }
    short Short() { return static_cast<short>(Word()); }
    std::string String() {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word()) text += static_cast<char>(c);
        return text;
    }
    // A string or an ordinal (0xFFFF followed by a number); empty when 0.
    std::string StringOrOrdinal(int* ordinal = nullptr) {
        WORD first;
        memcpy(&first, p_, 2);
        if (first == 0xFFFF) {
            p_ += 2;
            const WORD value = Word();
            if (ordinal != nullptr) *ordinal = value;
            switch (value) {
                case 0x80: return "Button";
                case 0x81: return "Edit";
                case 0x82: return "Static";
                default: return "#" + std::to_string(value);
            }
        }
        return String();
    }
    void AlignDword() {
        while ((p_ - start_) % 4 != 0) ++p_;
    }
    void Skip(size_t bytes) { p_ += bytes; }

private:
    const BYTE* p_;
    const BYTE* start_;
};

Dialog ReadDialog(HMODULE module, UINT id) {
    Dialog dialog;
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(id), RT_DIALOG);
    if (info == nullptr) return dialog;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
    TemplateReader reader(data);
    dialog.style = reader.Dword();
    dialog.exStyle = reader.Dword();
    const WORD count = reader.Word();
    dialog.x = reader.Short();
    dialog.y = reader.Short();
    dialog.cx = reader.Short();
    dialog.cy = reader.Short();
    dialog.hasMenu = !reader.StringOrOrdinal().empty();
    dialog.hasClass = !reader.StringOrOrdinal().empty();
    dialog.title = reader.String();
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = reader.Word();
        dialog.font = reader.String();
    }
    for (WORD i = 0; i < count; ++i) {
        reader.AlignDword();
        Control control{};
        control.style = reader.Dword();
        reader.Dword();  // extended style
        control.x = reader.Short();
        control.y = reader.Short();
        control.cx = reader.Short();
        control.cy = reader.Short();
        control.id = reader.Short();
        control.className = reader.StringOrOrdinal();
        control.text = reader.StringOrOrdinal();
        reader.Skip(reader.Word());  // creation data
        dialog.controls.push_back(control);
    }
    return dialog;
}

// ---- the tests ----

// One built library file, loaded as data.
class LibraryFileTest : public ::testing::TestWithParam<LibraryFile> {
protected:
    void SetUp() override {
        ASSERT_NE(GetFileAttributesA(GetParam().path), INVALID_FILE_ATTRIBUTES)
            << GetParam().path << " is missing: build both architectures first";
        ASSERT_NE(file_.get(), nullptr) << "cannot load " << GetParam().path << " as data";
    }
    DataFile file_{GetParam().path};
};

// The full form's string table, dialogs and manifest.
class LibraryResources : public LibraryFileTest {};
// The version record of either form.
class LibraryVersion : public LibraryFileTest {};
// The compact form's resources: its version record and nothing else.
class CompactLibraryResources : public LibraryFileTest {};

TEST_P(LibraryResources, StringTableHoldsExactlyTheLibraryTexts) {
    for (UINT id = 0; id <= 48; ++id) {
        std::string text;
        const bool found = LoadText(file_.get(), id, text);
        const auto expected = ExpectedStrings().find(id);
        if (expected == ExpectedStrings().end()) {
            EXPECT_FALSE(found) << "string " << id << " must not exist, holds \"" << text << "\"";
        } else {
            EXPECT_TRUE(found) << "string " << id << " is missing";
            EXPECT_EQ(text, expected->second) << "string " << id;
        }
    }
    std::string unableToExecute;
    ASSERT_TRUE(LoadText(file_.get(), IDS_UNABLE_TO_EXECUTE, unableToExecute));
    EXPECT_EQ(unableToExecute.size(), 38u);
    EXPECT_EQ(unableToExecute.back(), '\n');
}

TEST_P(LibraryResources, StatusWindowTemplate) {
    const Dialog dialog = ReadDialog(file_.get(), IDD_STATUS);
    EXPECT_EQ(dialog.style, 0x800000C0u);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(std::vector<int>({dialog.x, dialog.y, dialog.cx, dialog.cy}), std::vector<int>({0, 0, 226, 36}));
    EXPECT_FALSE(dialog.hasMenu);
    EXPECT_FALSE(dialog.hasClass);
    EXPECT_EQ(dialog.title, "");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, "MS Sans Serif");
    const std::vector<Control> expected = {{1005, "static", "", 0x50020001, 7, 11, 206, 16}};
    EXPECT_EQ(dialog.controls, expected);
}

TEST_P(LibraryResources, LicenceDialogTemplate) {
    const Dialog dialog = ReadDialog(file_.get(), IDD_LICENSE);
    EXPECT_EQ(dialog.style, 0x80CD0040u);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(std::vector<int>({dialog.x, dialog.y, dialog.cx, dialog.cy}), std::vector<int>({0, 0, 408, 287}));
    EXPECT_FALSE(dialog.hasMenu);
    EXPECT_FALSE(dialog.hasClass);
    EXPECT_EQ(dialog.title, "Product License Agreement");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.font, "MS Sans Serif");
    const std::vector<Control> expected = {
        {1002, "button", "I &accept the agreement", 0x50030009, 9, 239, 133, 10},
        {1003, "button", "I &don't accept the agreement", 0x50000009, 9, 252, 134, 10},
        {1, "button", "&Next >>", 0x50030001, 178, 266, 50, 14},
        {2, "button", "&Cancel", 0x50010000, 244, 266, 50, 14},
        {-1, "static",
         "Please read the following agreement. You must accept the agreement to continue installation.",
         0x50020000, 8, 8, 351, 19},
        {1006, "button", "<< &Back", 0x50010000, 112, 266, 50, 14},
        {1004, "RICHEDIT", "", 0x50A10804, 7, 29, 394, 207},
    };
    EXPECT_EQ(dialog.controls, expected);
}

TEST_P(LibraryVersion, VersionRecord) {
    const WORD* version = GetParam().version;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(GetParam().path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoA(GetParam().path, 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(version[1], version[0])));
    EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(version[3], version[2])));
    EXPECT_EQ(fixed->dwProductVersionMS, static_cast<DWORD>(MAKELONG(version[1], version[0])));
    EXPECT_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(MAKELONG(version[3], version[2])));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

    auto text = [&](const char* name) {
        char* value = nullptr;
        UINT chars = 0;
        const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        if (!VerQueryValueA(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &chars)) return std::string();
        return std::string(value);
    };
    EXPECT_EQ(text("InternalName"), "Tarnvale");
    EXPECT_EQ(text("OriginalFilename"), "Tarnvale.DLL");
    const std::string versionText = std::to_string(version[0]) + "." + std::to_string(version[1]) + "." +
                                    std::to_string(version[2]) + "." + std::to_string(version[3]);
    EXPECT_EQ(text("FileVersion"), versionText);
    EXPECT_EQ(text("ProductVersion"), versionText);

    // The record is the English (United States) resource with ID 1.
    EXPECT_NE(FindResourceExA(file_.get(), RT_VERSION, MAKEINTRESOURCEA(IDR_VERSION),
                              MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
              nullptr);
}

TEST_P(LibraryResources, ManifestAsksForCommonControls6AsInvoker) {
    HRSRC info = FindResourceA(file_.get(), MAKEINTRESOURCEA(IDR_LIBRARY_MANIFEST), RT_MANIFEST);
    ASSERT_NE(info, nullptr);
    const char* data = static_cast<const char*>(LockResource(LoadResource(file_.get(), info)));
    const std::string manifest(data, SizeofResource(file_.get(), info));
    EXPECT_NE(manifest.find(R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"), std::string::npos);
    EXPECT_NE(manifest.find(R"(level="asInvoker" uiAccess="false")"), std::string::npos);
}

BOOL CALLBACK AddResourceType(HMODULE, LPSTR type, LONG_PTR types) {
    auto* list = reinterpret_cast<std::vector<std::string>*>(types);
    list->push_back(IS_INTRESOURCE(type) ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type)) : std::string(type));
    return TRUE;
}

// Every text and both templates come from the resource library alone, and
// there is no manifest: the file holds one kind of resource, the version record.
TEST_P(CompactLibraryResources, HoldOnlyTheVersionRecord) {
    std::vector<std::string> types;
    EnumResourceTypesA(file_.get(), AddResourceType, reinterpret_cast<LONG_PTR>(&types));
    EXPECT_EQ(types, std::vector<std::string>{"#" + std::to_string(reinterpret_cast<ULONG_PTR>(RT_VERSION))});

    for (UINT id = 0; id <= 48; ++id) {
        std::string text;
        EXPECT_FALSE(LoadText(file_.get(), id, text)) << "string " << id << " holds \"" << text << "\"";
    }
    EXPECT_EQ(FindResourceA(file_.get(), MAKEINTRESOURCEA(IDD_STATUS), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceA(file_.get(), MAKEINTRESOURCEA(IDD_LICENSE), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceA(file_.get(), MAKEINTRESOURCEA(IDR_LIBRARY_MANIFEST), RT_MANIFEST), nullptr);
}

std::string FileName(const ::testing::TestParamInfo<LibraryFile>& tested) { return tested.param.name; }

INSTANTIATE_TEST_SUITE_P(Full, LibraryResources, ::testing::ValuesIn(kFullFiles), FileName);
INSTANTIATE_TEST_SUITE_P(Full, LibraryVersion, ::testing::ValuesIn(kFullFiles), FileName);
INSTANTIATE_TEST_SUITE_P(Compact, LibraryVersion, ::testing::ValuesIn(kCompactFiles), FileName);
INSTANTIATE_TEST_SUITE_P(Compact, CompactLibraryResources, ::testing::ValuesIn(kCompactFiles), FileName);

}  // namespace
}  // namespace tarnvale::test
