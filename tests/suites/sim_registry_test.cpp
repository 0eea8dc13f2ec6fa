// The SIM registry sweep: registrations below the SIMS and DSIMS keys are
// listed and deleted with their whole subtrees; the parent keys stay. The SIM
// list shows through the per-SIM uninstall files that the run deletes by the
// listed names.
#include <gtest/gtest.h>

#include "sim_world.h"

namespace tarnvale::test {
namespace {

std::string Sims(const std::string& name) { return std::string(simkeys::kSims) + "\\" + name; }
std::string Dsims(const std::string& name) { return std::string(simkeys::kDsims) + "\\" + name; }

class SimRegistrySweep : public SimCleanupTest {
protected:
    void SetUp() override {
        world_.RegisterProduct();
        world_.AddProductFiles({"SIMUninstall.dll"});
    }
    bool UninstallFileExists(const std::string& simName) const {
        return fs::FileExists(world_.productFolder() + "\\" + simName + "Uninst.isu");
    }
    void AddUninstallFiles(const std::vector<std::string>& simNames) {
        for (const std::string& name : simNames) world_.AddProductFiles({name + "Uninst.isu"});
    }
};

// An empty SIMS key and no DSIMS key: nothing listed, nothing deleted but
// the SIM folders, and the SIMS key stays.
TEST_F(SimRegistrySweep, EmptySimsKeyListsNothing) {
    reg::CreateKey(HKEY_LOCAL_MACHINE, simkeys::kSims);
    world_.AddProductFiles({"Sims\\Alpha\\a.txt"});

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_TRUE(reg::KeyExists(HKEY_LOCAL_MACHINE, simkeys::kSims));
    EXPECT_EQ(world_.ProductTree(), std::vector<std::string>{"SIMUninstall.dll"});
}

// Without the SIMS key the DSIMS key is not looked at.
TEST_F(SimRegistrySweep, MissingSimsKeyLeavesDsimsRegistrations) {
    world_.AddRegistration(simkeys::kDsims, "Alpha", "{A}");
    world_.AddRegistration(simkeys::kDsims, "Beta");
    AddUninstallFiles({"Alpha", "Beta"});

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(reg::SubkeyNames(HKEY_LOCAL_MACHINE, simkeys::kDsims), (std::vector<std::string>{"Alpha", "Beta"}));
    EXPECT_TRUE(UninstallFileExists("Alpha"));
    EXPECT_TRUE(fs::FileExists(world_.productFolder() + "\\SIMUninstall.dll"));
}

// Every registration goes with its subkeys and values, relative to its own
// parent; a name under both keys is listed twice and deleted under each.
TEST_F(SimRegistrySweep, RegistrationsGoWithTheirSubtrees) {
    world_.AddRegistration(simkeys::kSims, "Alpha", "{A}");
    reg::SetString(HKEY_LOCAL_MACHINE, Sims("Alpha") + "\\Settings\\Deep", "Level", "3");
    world_.AddRegistration(simkeys::kSims, "Beta");
    world_.AddRegistration(simkeys::kDsims, "Beta", "{B}");
    world_.AddRegistration(simkeys::kDsims, "Gamma");
    reg::SetString(HKEY_LOCAL_MACHINE, Dsims("Gamma") + "\\Sub", "Value", "x");
    AddUninstallFiles({"Alpha", "Beta", "Gamma", "Delta"});

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_TRUE(reg::SubkeyNames(HKEY_LOCAL_MACHINE, simkeys::kSims).empty());
    EXPECT_TRUE(reg::SubkeyNames(HKEY_LOCAL_MACHINE, simkeys::kDsims).empty());
    EXPECT_TRUE(reg::KeyExists(HKEY_LOCAL_MACHINE, simkeys::kSims));
    EXPECT_TRUE(reg::KeyExists(HKEY_LOCAL_MACHINE, simkeys::kDsims));
    EXPECT_EQ(world_.ProductTree(), std::vector<std::string>{"DeltaUninst.isu"});
}

// A 255-character name (the registry's longest) does not fit the 255-character
// name buffer with its terminator: the enumeration of that key ends there.
// A 254-character name still fits; the DSIMS key is enumerated as usual.
TEST_F(SimRegistrySweep, NameOf255CharactersEndsThatKeysEnumeration) {
    const std::string fits(254, 'L');
    const std::string tooLong(255, 'M');
    for (const std::string& name : {std::string("Alpha"), fits, tooLong, std::string("Zulu")}) {
        world_.AddRegistration(simkeys::kSims, name);
    }
    ASSERT_TRUE(reg::KeyExists(HKEY_LOCAL_MACHINE, Sims(tooLong))) << "the registry refused a 255-character name";
    world_.AddRegistration(simkeys::kDsims, "Delta");
    AddUninstallFiles({"Alpha", "Zulu", "Delta"});

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_EQ(reg::SubkeyNames(HKEY_LOCAL_MACHINE, simkeys::kSims), (std::vector<std::string>{tooLong, "Zulu"}));
    EXPECT_TRUE(reg::SubkeyNames(HKEY_LOCAL_MACHINE, simkeys::kDsims).empty());
    EXPECT_FALSE(UninstallFileExists("Alpha"));
    EXPECT_TRUE(UninstallFileExists("Zulu"));
    EXPECT_FALSE(UninstallFileExists("Delta"));
}

// A registration that cannot be opened for reading is still listed (its
// uninstall file goes) and the sweep goes on with the next one. The platform
// cannot delete a key whose subkeys it may not list, so it stays.
TEST_F(SimRegistrySweep, UnreadableRegistrationIsStillListed) {
    world_.AddRegistration(simkeys::kSims, "Alpha", "{A}");
    world_.AddRegistration(simkeys::kSims, "Beta", "{B}");
    ASSERT_TRUE(reg::DenyRead(HKEY_LOCAL_MACHINE, Sims("Alpha"))) << "cannot deny reading a key";
    AddUninstallFiles({"Alpha", "Beta"});

    EXPECT_EQ(CleanSilently(), 1);

    EXPECT_FALSE(reg::KeyExists(HKEY_LOCAL_MACHINE, Sims("Beta")));
    EXPECT_EQ(reg::SubkeyNames(HKEY_LOCAL_MACHINE, simkeys::kSims), std::vector<std::string>{})
        << "the unreadable registration is deleted too";
    EXPECT_FALSE(UninstallFileExists("Alpha"));
    EXPECT_FALSE(UninstallFileExists("Beta"));
}

}  // namespace
}  // namespace tarnvale::test
