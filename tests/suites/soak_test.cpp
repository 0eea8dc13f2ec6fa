// Soak: every export called in a loop in one process, 1,000 times for those
// that start no program and 200 times for LaunchAppAndWait with a child that
// exits at once. After a short warm-up the process's kernel handles, USER
// and GDI objects and private bytes are read, and again after the loop: any
// growth beyond a small fixed allowance is a leak. The machine is compared
// before and after the loop too: each round's leftovers are seeded again and
// removed by the call, so nothing may differ at the end. A second soak loads,
// calls and frees the library 2,000 times.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "child_log.h"
#include "library_form.h"
#include "machine_snapshot.h"
#include "process_resources.h"
#include "resources/resource.h"
#include "sim_leftovers.h"
#include "sim_world.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

// The platform fills caches of its own in the first calls: Wine keeps the
// device contexts that painting used (a DC, its region and its bitmap each)
// and makes more while windows paint at the same time, up to some twenty more
// for the licence page, at a moment that depends on timing. The warm-up
// therefore goes on until the object counts have held still for a while.
constexpr int kWarmUpRounds = 20;
constexpr int kSteadyRounds = 40;
constexpr int kMaxWarmUpRounds = 400;

bool SameObjectCounts(const ProcessResources& a, const ProcessResources& b) {
    return a.handles == b.handles && a.userObjects == b.userObjects && a.gdiObjects == b.gdiObjects;
}

// Growth allowed over the whole loop. A leak of one handle, one window or
// one GDI object per call grows by hundreds; one of 256 bytes per call by
// 50 KiB over 200 calls and 250 KiB over 1,000.
constexpr int64_t kHandleAllowance = 8;
constexpr int64_t kUserObjectAllowance = 2;
constexpr int64_t kGdiObjectAllowance = 4;
constexpr int64_t kPrivateBytesAllowance = 192 * 1024;

// The figures must move when something is really left behind, or the soak
// below could not fail: a few handles, a window, brushes and a megabyte.
TEST(ProcessResourcesReader, SeesEachKindOfLeftover) {
    // The first window of a process sets up the window system for it, once.
    DestroyWindow(CreateWindowExA(0, "STATIC", "warm-up", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    const ProcessResources start = ProcessResources::Read();
    std::vector<HANDLE> events;
    for (int i = 0; i < 5; ++i) events.push_back(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    HWND window = CreateWindowExA(0, "STATIC", "leftover", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    std::vector<HBRUSH> brushes;
    for (int i = 0; i < 5; ++i) brushes.push_back(CreateSolidBrush(RGB(i, 0, 0)));
    void* memory = VirtualAlloc(nullptr, 1 << 20, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const ProcessResources held = ProcessResources::Read();
    for (HANDLE event : events) CloseHandle(event);
    DestroyWindow(window);
    for (HBRUSH brush : brushes) DeleteObject(brush);
    VirtualFree(memory, 0, MEM_RELEASE);
    const ProcessResources released = ProcessResources::Read();

    std::printf("start %s\nheld %s\nreleased %s\n(%s)\n", Describe(start).c_str(), Describe(held).c_str(),
                Describe(released).c_str(), start.sources.c_str());
    EXPECT_GE(held.handles - start.handles, 5);
    EXPECT_GE(held.userObjects - start.userObjects, 1);
    if (start.gdiObjects < 0) {
        // Wine keeps no GDI handle table for a 32-bit process: there GDI
        // objects cannot be counted, and the soak's GDI figures stay at -1.
        BOOL wow64 = FALSE;
        EXPECT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64) && wow64) << "GDI objects cannot be counted";
    } else {
        EXPECT_GE(held.gdiObjects - start.gdiObjects, 5);
    }
    EXPECT_GE(held.privateBytes - start.privateBytes, 1 << 20);
    EXPECT_EQ(released.handles, start.handles);
    EXPECT_EQ(released.userObjects, start.userObjects);
    EXPECT_EQ(released.gdiObjects, start.gdiObjects);
}

struct SoakCase {
    const char* name;
    int rounds;
    std::function<void(SimWorld&)> prepare;  // once, before the warm-up
    std::function<void(SimWorld&)> seed;     // before every call
    std::function<int(const TarnvaleLibrary&)> call;
    // A resource library beside the host, so that the exports that use one
    // load and release it in every call.
    bool withResourceLibrary;
    // For an export that shows the licence page: what the robot does on it
    // in every call.
    std::function<void(HWND page)> answerPage = nullptr;
};

// One SIM's leftovers, seeded again before each call; the call removes them all.
std::vector<SimLeftover> OneSim(const SimWorld& world) { return ManySims(1, world.root() + "\\Logs", 3); }

void PrepareLeftovers(SimWorld& world) {
    world.RegisterProduct();
    for (const SimLeftover& sim : OneSim(world)) world.TrackUninstallEntry(sim.entryName);
    reg::CreateKey(HKEY_LOCAL_MACHINE, simkeys::kSims);
    fs::CreateFolders(world.root() + "\\Logs");
}

void SeedOneSim(SimWorld& world) { SeedSimLeftovers(world.productFolder(), OneSim(world)); }

// UninstallTivraDriver finds the product folder, but no driver setup in it.
void RegisterProduct(SimWorld& world) { world.RegisterProduct(); }

// An agreement in the current directory, streamed into the page by every
// call. Its last paragraph is not closed by "\par": Wine's rich-edit control
// leaks some 320 bytes on each stream that ends with one, whoever streams it.
void PlaceAgreement(SimWorld& world) {
    fs::WriteFile(world.currentFolder() + "\\license.rtf",
                  "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20{\\b Licence Agreement}\\par\n"
                  "Read these terms.\\par\nLast line.}");
}

// The user accepts the agreement and presses Next.
void AcceptAndGoOn(HWND page) {
    ui::ClickNow(page, IDC_ACCEPT);
    ui::Click(page, IDOK);
}

const SoakCase kCases[] = {
    {"CleanSIMInfoSilent", 1000, PrepareLeftovers, SeedOneSim,
     [](const TarnvaleLibrary& library) { return library.CleanSIMInfoSilent(); }, false},
    {"CleanSIMInfo", 1000, PrepareLeftovers, SeedOneSim,
     [](const TarnvaleLibrary& library) { return library.CleanSIMInfo(); }, false},
    {"RemoveAddOns", 1000, nullptr, nullptr, [](const TarnvaleLibrary& library) { return library.RemoveAddOns(); },
     true},
    {"UninstallTivraDriver", 1000, RegisterProduct, nullptr,
     [](const TarnvaleLibrary& library) { return library.UninstallTivraDriver(); }, true},
    {"LaunchAppAndWait", 200, nullptr, nullptr,
     [](const TarnvaleLibrary& library) {
         static const std::string command = ChildCommand("--exit=0");
         return library.LaunchAppAndWait(command.c_str());
     },
     false},
    {"ShowBetaLicense", 1000, PlaceAgreement, nullptr,
     [](const TarnvaleLibrary& library) { return library.ShowBetaLicense(); }, true, AcceptAndGoOn},
};

void PrintTo(const SoakCase& tested, std::ostream* out) { *out << tested.name; }

class Soak : public ::testing::TestWithParam<SoakCase> {
protected:
    void TearDown() override { EXPECT_EQ(world_.DamagedCanaries(), ""); }

    SimWorld world_;
    TarnvaleLibrary library_;
};

TEST_P(Soak, NoGrowthOverTheLoop) {
    const SoakCase& tested = GetParam();
    if (tested.prepare) tested.prepare(world_);
    std::unique_ptr<ScopedFileCopy> resourceLibrary;
    if (tested.withResourceLibrary) {
        resourceLibrary = std::make_unique<ScopedFileCopy>(kFixtureFullPath, HostFolder() + "\\TarnvaleRes.dll");
    }
    const MachineSnapshot before = MachineSnapshot::Take();
    // The status window may show for a moment; the licence page is answered
    // in every call; any other window fails the test.
    std::atomic<bool> loopDone{false};
    UiSession::Script answerPages = nullptr;
    if (tested.answerPage) {
        answerPages = [&](UiSession& session) {
            const ui::WindowMatch isPage = ui::DialogWithItem(IDC_AGREEMENT_TEXT);
            for (;;) {
                HWND page = nullptr;
                const bool seen = session.WaitUntil(
                    [&] {
                        for (HWND window : ui::TopLevelWindows()) {
                            if (isPage(window)) page = window;
                        }
                        return page != nullptr || loopDone;
                    },
                    "licence page");
                if (!seen || page == nullptr) return;
                tested.answerPage(page);
                session.WaitGone(page);
            }
        };
    }
    UiSession robot(answerPages, ui::DialogWithItem(IDC_STATUS_TEXT));

    int wrongResults = 0;
    auto round = [&] {
        if (tested.seed) tested.seed(world_);
        robot.NextCall();
        if (tested.call(library_) != 1) ++wrongResults;
    };
    int warmUpRounds = 0;
    for (; warmUpRounds < kWarmUpRounds; ++warmUpRounds) round();
    ProcessResources settled = ProcessResources::Read();
    for (int steady = 0; steady < kSteadyRounds && warmUpRounds < kMaxWarmUpRounds; ++warmUpRounds) {
        round();
        const ProcessResources now = ProcessResources::Read();
        steady = SameObjectCounts(now, settled) ? steady + 1 : 0;
        settled = now;
    }
    const ProcessResources start = ProcessResources::Read();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < tested.rounds; ++i) round();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const ProcessResources end = ProcessResources::Read();
    loopDone = true;
    robot.Finish();

    std::printf("%s x%d in %.1f s after %d warm-up calls\n  before: %s\n  after:  %s\n  (%s)\n", tested.name, tested.rounds, seconds,
                warmUpRounds, Describe(start).c_str(), Describe(end).c_str(), end.sources.c_str());
    EXPECT_EQ(wrongResults, 0);
    EXPECT_LE(end.handles - start.handles, kHandleAllowance) << "kernel handles leak";
    EXPECT_LE(end.userObjects - start.userObjects, kUserObjectAllowance) << "USER objects leak";
    EXPECT_LE(end.gdiObjects - start.gdiObjects, kGdiObjectAllowance) << "GDI objects leak";
    EXPECT_LE(end.privateBytes - start.privateBytes, kPrivateBytesAllowance) << "private memory grows";
    EXPECT_FALSE(IsModuleLoaded("TarnvaleRes.dll")) << "the resource library stays loaded";
    EXPECT_EQ(DescribeUnexpectedChanges(before, MachineSnapshot::Take(), {}), "");
}

// The thread-local storage slots this process can still take: every free
// one is taken until the platform refuses, counted, and given back. The
// lowest free index alone would hide a slot lost above it.
int FreeThreadLocalSlots() {
    std::vector<DWORD> taken;
    for (DWORD slot = TlsAlloc(); slot != TLS_OUT_OF_INDEXES; slot = TlsAlloc()) taken.push_back(slot);
    for (DWORD slot : taken) TlsFree(slot);
    return static_cast<int>(taken.size());
}

class LoadSoak : public ::testing::TestWithParam<LibraryForm> {
protected:
    void TearDown() override { EXPECT_EQ(world_.DamagedCanaries(), ""); }

    SimWorld world_;  // no product registered: the call finds nothing to remove
};

// A setup may load the library for each call and free it after (script
// languages do). Loading it, calling it and freeing it 2,000 times must leave
// nothing behind: the statically linked runtime's own allocations and the
// process's thread-local storage slots included, of which a process has
// little more than a thousand.
TEST_P(LoadSoak, LoadCallAndFreeLeavesNothingBehind) {
    const LibraryForm& form = GetParam();
    FormResources resources(form);
    constexpr int kCycles = 2000;
    constexpr int kSlotCheckEvery = 250;
    auto cycle = [&] {
        TarnvaleLibrary library(form.path);
        ASSERT_TRUE(library.loaded());
        EXPECT_EQ(library.CleanSIMInfoSilent(), 0);
    };

    ProcessResources::Read();  // the first reading loads what the reader itself needs
    for (int i = 0; i < kWarmUpRounds && !HasFailure(); ++i) cycle();
    const ProcessResources start = ProcessResources::Read();
    const int slotsBefore = FreeThreadLocalSlots();
    for (int i = 1; i <= kCycles && !HasFailure(); ++i) {
        cycle();
        // Looked at along the way, so that a leak fails the test before the
        // host runs out of slots.
        if (i % kSlotCheckEvery == 0) {
            ASSERT_EQ(FreeThreadLocalSlots(), slotsBefore) << "thread-local slots lost after " << i << " cycles";
        }
    }
    const ProcessResources end = ProcessResources::Read();
    std::printf("%s form loaded, called and freed x%d; %d thread-local slots free before and after\n  before: %s\n  after:  %s\n",
                form.name, kCycles, slotsBefore, Describe(start).c_str(), Describe(end).c_str());
    EXPECT_LE(end.handles - start.handles, kHandleAllowance) << "kernel handles leak";
    EXPECT_LE(end.gdiObjects - start.gdiObjects, kGdiObjectAllowance) << "GDI objects leak";
    EXPECT_LE(end.privateBytes - start.privateBytes, kPrivateBytesAllowance) << "private memory grows";
}

INSTANTIATE_TEST_SUITE_P(Forms, LoadSoak, BothForms(), FormName);

INSTANTIATE_TEST_SUITE_P(Exports, Soak, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SoakCase>& tested) {
                             return std::string(tested.param.name);
                         });

}  // namespace
}  // namespace tarnvale::test
