// The German resource library of examples/TarnvaleRes beside the host: the
// full form shows its texts and dialogs where it loads the resource library,
// and the compact form, which has no texts of its own, works with it.
#include <windows.h>

#include <gtest/gtest.h>

#include "child_log.h"
#include "file_fixture.h"
#include "library_form.h"
#include "registry_fixture.h"
#include "resources/resource.h"
#include "sim_world.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

// A UTF-8 text in the ANSI code page, as the library and the robot hold texts.
std::string Ansi(const char* utf8) {
    wchar_t wide[1024] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 1024);
    char ansi[1024] = {};
    WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof(ansi), nullptr, nullptr);
    return ansi;
}

struct GermanCase {
    LibraryForm form;
    const char* cleaningText;  // CleanSIMInfo's status text in this form
};

class GermanResourceLibrary : public ::testing::TestWithParam<GermanCase> {
protected:
    SimWorld world_;
    ScopedRegistryTree quillet_{HKEY_LOCAL_MACHINE,
                                R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Nortavo Quillet)"};
    ScopedFileCopy german_{kGermanResourceLibraryPath, HostFolder() + "\\TarnvaleRes.dll"};
    TarnvaleLibrary library_{GetParam().form.path};
};

TEST_P(GermanResourceLibrary, LicencePageIsGerman) {
    std::string caption, next, back, accept, label;
    UiSession ui([&](UiSession& session) {
        HWND page = session.WaitFor(ui::DialogWithItem(IDC_AGREEMENT_TEXT), "licence page");
        if (page == nullptr) return;
        caption = ui::Text(page);
        next = ui::ItemText(page, IDOK);
        back = ui::ItemText(page, IDC_BACK);
        accept = ui::ItemText(page, IDC_ACCEPT);
        ui::Click(page, IDC_BACK);
    });
    EXPECT_EQ(library_.ShowBetaLicense(), 12);
    ui.Finish();
    EXPECT_EQ(caption, "Lizenzvertrag");
    EXPECT_EQ(next, "&Weiter >>");
    EXPECT_EQ(back, Ansi("<< &Zurück"));
    EXPECT_EQ(accept, "Ich &akzeptiere den Vertrag");
}

TEST_P(GermanResourceLibrary, AddOnRemovalSpeaksGerman) {
    const std::string missing = world_.root() + "\\fehlt.exe";
    reg::SetString(HKEY_LOCAL_MACHINE, R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Nortavo Quillet)",
                   "UninstallString", missing);
    const unsigned long error = CreateProcessError(missing + " -a");

    std::vector<std::string> boxes;
    UiSession ui(
        [&](UiSession& session) { boxes = session.AnswerMessageBoxes(2); },
        ui::DialogWithItem(IDC_STATUS_TEXT));
    WindowEventLog log;
    EXPECT_EQ(library_.RemoveAddOns(), 1);
    const std::vector<std::string> statusTexts = log.TextsOf(IDC_STATUS_TEXT);
    ui.Finish();

    EXPECT_EQ(statusTexts, std::vector<std::string>({"Suche nach Lumbrook-Add-ons...", "Quillet wird deinstalliert..."}));
    EXPECT_EQ(boxes, std::vector<std::string>(
                         {Ansi((missing + " -a kann nicht ausgeführt werden. Fehlercode: " + std::to_string(error) + "\n").c_str()),
                          "Das Quillet-Add-on wurde gefunden, konnte aber nicht deinstalliert werden. Bitte "
                          "deinstallieren Sie es manuell."}));
}

// The SIM cleanup works with the German library's registry paths. The full
// form never loads the resource library for it, so its status text stays
// the library's own; the compact form takes it from the German library.
TEST_P(GermanResourceLibrary, SimCleanupRemovesTheLeftovers) {
    world_.RegisterProduct();
    // Found by both forms: by the registration's name (it has no GUID) with
    // the prefix, and by the name as a part of the entry's name.
    world_.AddRegistration(simkeys::kSims, "Alpha");
    world_.AddUninstallEntry("Borelle SIM Alpha", nullptr, "Borelle SIM Alpha");
    world_.AddProductFiles({"Sims\\Alpha\\a.txt", "AlphaUninst.isu", "SIMUninstall.dll", "Quenta.exe"});

    UiSession ui;
    WindowEventLog log;
    EXPECT_EQ(library_.CleanSIMInfo(), 1);
    const std::vector<std::string> statusTexts = log.TextsOf(IDC_STATUS_TEXT);
    ui.Finish();

    EXPECT_EQ(statusTexts, std::vector<std::string>({Ansi(GetParam().cleaningText)}));
    EXPECT_EQ(world_.ProductTree(), std::vector<std::string>({"Quenta.exe"}));
    EXPECT_FALSE(reg::KeyExists(HKEY_LOCAL_MACHINE, std::string(simkeys::kSims) + "\\Alpha"));
    EXPECT_FALSE(reg::KeyExists(HKEY_LOCAL_MACHINE, world_.UninstallEntryPath("Borelle SIM Alpha")));
    EXPECT_EQ(world_.DamagedCanaries(), "");
}

INSTANTIATE_TEST_SUITE_P(Forms, GermanResourceLibrary,
                         ::testing::Values(GermanCase{kFullForm, "Cleaning up Sims..."},
                                           GermanCase{kCompactForm, "SIMs werden bereinigt..."}),
                         [](const ::testing::TestParamInfo<GermanCase>& tested) {
                             return std::string(tested.param.form.name);
                         });

}  // namespace
}  // namespace tarnvale::test
