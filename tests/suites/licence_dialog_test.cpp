// ShowBetaLicense: the licence agreement page, driven by the UI robot on the
// real dialog while the test thread waits in the export, as the setup does.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>

#include "file_fixture.h"
#include "library_form.h"
#include "resources/resource.h"
#include "tarnvale_library.h"
#include "test_paths.h"
#include "ui_robot.h"

namespace tarnvale::test {
namespace {

constexpr char kExitQuestion[] = "Do you want to exit Quenta setup?";
constexpr char kResourceLibraryFile[] = "TarnvaleRes.dll";
constexpr char kRichEditLibraryFile[] = "riched32.dll";
constexpr int kBack = 12;

using PageScript = std::function<void(UiSession&, HWND page)>;

// The radio group and Next, as the user sees them.
struct Choice {
    bool accept;
    bool decline;
    bool nextEnabled;
    bool operator==(const Choice& other) const {
        return accept == other.accept && decline == other.decline && nextEnabled == other.nextEnabled;
    }
};

std::ostream& operator<<(std::ostream& out, const Choice& choice) {
    return out << "{accept " << choice.accept << ", decline " << choice.decline << ", next enabled "
               << choice.nextEnabled << "}";
}

constexpr Choice kNothingChosen{false, false, false};
constexpr Choice kAccepted{true, false, true};
constexpr Choice kDeclined{false, true, false};

Choice ChoiceOf(HWND page) {
    return {ui::IsChecked(page, IDC_ACCEPT), ui::IsChecked(page, IDC_DECLINE), ui::IsEnabled(page, IDOK)};
}

bool Shown(HWND window, int id) {
    HWND item = ui::Item(window, id);
    return item != nullptr && IsWindowVisible(item);
}

// Waits for the exit question, checks that it is the library's own Yes/No
// question owned by the page, and answers it.
bool AnswerExitQuestion(UiSession& session, HWND page, int answer) {
    HWND box = session.WaitForMessageBox();
    if (box == nullptr) return false;
    EXPECT_EQ(ui::MessageBoxText(box), kExitQuestion);
    EXPECT_EQ(ui::Text(box), "Question");
    EXPECT_EQ(GetWindow(box, GW_OWNER), page);
    EXPECT_TRUE(Shown(box, IDYES) && Shown(box, IDNO));
    EXPECT_FALSE(Shown(box, IDOK) || Shown(box, IDCANCEL));
    EXPECT_EQ(ui::MessageBoxIcon(box), LoadIconA(nullptr, IDI_QUESTION));
    session.NoteAnswered(box);
    ui::Click(box, answer);
    return session.WaitGone(box);
}

// Clicks a radio button and checks the state the page shows afterwards.
void Choose(HWND page, int radio, const Choice& expected) {
    ASSERT_TRUE(ui::ClickNow(page, radio));
    EXPECT_EQ(ChoiceOf(page), expected) << "after clicking " << radio;
}

// Whether a module of this name is loaded in the process, sampled by the robot.
struct ModulesSeen {
    bool resourceLibrary = false;
    bool richEdit = false;
    void Sample() {
        resourceLibrary = IsModuleLoaded(kResourceLibraryFile);
        richEdit = IsModuleLoaded(kRichEditLibraryFile);
    }
};

class LicenceDialogTest : public ::testing::Test {
protected:
    // The compact form runs with the complete fixture resource library, its
    // only source of the page.
    explicit LicenceDialogTest(const LibraryForm& form = kFullForm) : resources_(form), library_(form.path) {}

    void SetUp() override {
        ASSERT_FALSE(IsModuleLoaded(kRichEditLibraryFile)) << "the test process must not hold the rich-edit library";
        ASSERT_FALSE(IsModuleLoaded(kResourceLibraryFile));
    }

    // Calls ShowBetaLicense while the robot runs `script` on the page.
    int ShowWith(const PageScript& script) {
        UiSession session([&](UiSession& robot) {
            HWND page = robot.WaitFor(ui::DialogWithItem(IDC_AGREEMENT_TEXT), "licence dialog");
            if (page != nullptr) script(robot, page);
        });
        const int result = library_.ShowBetaLicense();
        session.Finish();
        return result;
    }

    void WriteAgreement(const std::string& content) { fs::WriteFile(AgreementPath(), content); }
    std::string AgreementPath() const { return work_ / "license.rtf"; }

    ScopedFolder work_{std::string(fs::kTestRoot) + "\\licence"};
    // "license.rtf" is looked for in the current directory.
    ScopedCurrentDirectory currentDirectory_{work_.path()};
    FormResources resources_;
    TarnvaleLibrary library_;
};

// ---- how the page is left ----

struct Flow {
    const char* name;
    PageScript script;  // runs after the opening state has been checked
    int expected;
};

class LeavingThePage : public LicenceDialogTest,
                       public ::testing::WithParamInterface<std::tuple<LibraryForm, Flow>> {
protected:
    LeavingThePage() : LicenceDialogTest(std::get<0>(GetParam())) {}
};

// The page opens with nothing chosen and Next disabled; the way the user
// leaves it decides the result: 12 for Back, 1 for Next, 0 for a confirmed
// Cancel. The same in both forms of the library.
TEST_P(LeavingThePage, GivesTheResultOfTheWayOut) {
    const Flow flow = std::get<1>(GetParam());
    const int result = ShowWith([&](UiSession& robot, HWND page) {
        EXPECT_EQ(ChoiceOf(page), kNothingChosen) << "opening state";
        flow.script(robot, page);
    });
    EXPECT_EQ(result, flow.expected);
}

const Flow kFlows[] = {
    {"BackBeforeChoosing", [](UiSession&, HWND page) { ui::Click(page, IDC_BACK); }, kBack},
    {"BackAfterDeclining",
     [](UiSession&, HWND page) {
         Choose(page, IDC_DECLINE, kDeclined);
         ui::Click(page, IDC_BACK);
     },
     kBack},
    {"BackAfterAccepting",
     [](UiSession&, HWND page) {
         Choose(page, IDC_ACCEPT, kAccepted);
         ui::Click(page, IDC_BACK);
     },
     kBack},
    {"AcceptThenNext",
     [](UiSession&, HWND page) {
         Choose(page, IDC_ACCEPT, kAccepted);
         ui::Click(page, IDOK);
     },
     1},
    {"AcceptDeclineAcceptThenNext",
     [](UiSession&, HWND page) {
         Choose(page, IDC_ACCEPT, kAccepted);
         Choose(page, IDC_DECLINE, kDeclined);
         Choose(page, IDC_ACCEPT, kAccepted);
         ui::Click(page, IDOK);
     },
     1},
    {"EnterIsNextOnlyWhileAccepted",
     [](UiSession& robot, HWND page) {
         Choose(page, IDC_DECLINE, kDeclined);
         // Enter while declined, then a click on accept: posted in this order,
         // so the key has been handled once accept shows checked.
         ui::PressEnter(page);
         ui::Click(page, IDC_ACCEPT);
         robot.WaitUntil([&] { return ChoiceOf(page) == kAccepted; }, "accept checked");
         EXPECT_TRUE(IsWindowVisible(page)) << "Enter closed the page while the agreement was declined";
         ui::PressEnter(page);
     },
     1},
    {"CancelThenYes",
     [](UiSession& robot, HWND page) {
         ui::Click(page, IDCANCEL);
         AnswerExitQuestion(robot, page, IDYES);
     },
     0},
    {"EscapeThenYes",
     [](UiSession& robot, HWND page) {
         Choose(page, IDC_ACCEPT, kAccepted);
         ui::PressEscape(page);
         AnswerExitQuestion(robot, page, IDYES);
     },
     0},
    {"CloseBoxThenYes",
     [](UiSession& robot, HWND page) {
         ui::PressCloseBox(page);
         AnswerExitQuestion(robot, page, IDYES);
     },
     0},
    {"EveryCancelAnsweredNoKeepsThePageAsItWas",
     [](UiSession& robot, HWND page) {
         Choose(page, IDC_ACCEPT, kAccepted);
         ui::Click(page, IDCANCEL);
         AnswerExitQuestion(robot, page, IDNO);
         EXPECT_TRUE(IsWindowVisible(page));
         EXPECT_EQ(ChoiceOf(page), kAccepted) << "after Cancel, No";

         Choose(page, IDC_DECLINE, kDeclined);
         ui::PressEscape(page);
         AnswerExitQuestion(robot, page, IDNO);
         EXPECT_EQ(ChoiceOf(page), kDeclined) << "after Escape, No";

         ui::PressCloseBox(page);
         AnswerExitQuestion(robot, page, IDNO);
         EXPECT_TRUE(IsWindowVisible(page));
         EXPECT_EQ(ChoiceOf(page), kDeclined) << "after the close box, No";
         ui::Click(page, IDC_BACK);
     },
     kBack},
};

INSTANTIATE_TEST_SUITE_P(Flows, LeavingThePage, ::testing::Combine(BothForms(), ::testing::ValuesIn(kFlows)),
                         [](const ::testing::TestParamInfo<LeavingThePage::ParamType>& tested) {
                             return std::string(std::get<0>(tested.param).name) + "_" +
                                    std::get<1>(tested.param).name;
                         });

// A click notification that arrives while its radio button is not checked
// (sent by a program, not by the user's click): the full form follows the
// check state, the compact form enables Next for accept and disables it for
// do-not-accept whatever the state.
class ClickNotification : public LicenceDialogTest, public ::testing::WithParamInterface<LibraryForm> {
protected:
    ClickNotification() : LicenceDialogTest(GetParam()) {}
};

void NotifyClicked(HWND page, int id) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(ui::Item(page, id)),
                        SMTO_ABORTIFHUNG, 5000, &ignored);
}

TEST_P(ClickNotification, CompactFormDoesNotReadTheCheckState) {
    const bool compact = GetParam().compact;
    Choice afterAcceptNotice = {};
    Choice afterDeclineNotice = {};
    const int result = ShowWith([&](UiSession&, HWND page) {
        NotifyClicked(page, IDC_ACCEPT);
        afterAcceptNotice = ChoiceOf(page);
        Choose(page, IDC_ACCEPT, kAccepted);
        NotifyClicked(page, IDC_DECLINE);
        afterDeclineNotice = ChoiceOf(page);
        ui::Click(page, IDC_BACK);
    });
    EXPECT_EQ(result, kBack);
    EXPECT_EQ(afterAcceptNotice, (Choice{false, false, compact}));
    EXPECT_EQ(afterDeclineNotice, (Choice{true, false, !compact}));
}

INSTANTIATE_TEST_SUITE_P(Forms, ClickNotification, BothForms(), FormName);

const PageScript kPressBack = [](UiSession&, HWND page) { ui::Click(page, IDC_BACK); };
const PageScript kAcceptAndNext = [](UiSession&, HWND page) {
    Choose(page, IDC_ACCEPT, kAccepted);
    ui::Click(page, IDOK);
};
const PageScript kCancelAndConfirm = [](UiSession& robot, HWND page) {
    ui::Click(page, IDCANCEL);
    AnswerExitQuestion(robot, page, IDYES);
};

// A Back in one call does not decide the later calls of the same load: each
// returns what its own user did.
TEST_F(LicenceDialogTest, EachCallReturnsWhatItsOwnUserDid) {
    EXPECT_EQ(ShowWith(kPressBack), kBack);
    EXPECT_EQ(ShowWith(kCancelAndConfirm), 0);
    EXPECT_EQ(ShowWith(kPressBack), kBack);
    EXPECT_EQ(ShowWith(kAcceptAndNext), 1);
}

// A page that cannot be created (its view's window class exists nowhere)
// gives 0 without any window, also right after a Back, and leaves neither
// the resource library nor the rich-edit library loaded.
TEST_F(LicenceDialogTest, PageThatCannotBeCreatedGivesZero) {
    EXPECT_EQ(ShowWith(kPressBack), kBack);

    ScopedFileCopy unusable(kFixtureUnusableLicencePath, HostFolder() + "\\" + kResourceLibraryFile);
    UiSession noWindowExpected;
    EXPECT_EQ(library_.ShowBetaLicense(), 0);
    noWindowExpected.Finish();

    EXPECT_FALSE(IsModuleLoaded(kResourceLibraryFile));
    EXPECT_FALSE(IsModuleLoaded(kRichEditLibraryFile));
}

// ---- where the page comes from ----

struct ResourceCase {
    const char* name;
    const char* resourceLibrary;  // copied beside the host; null for none
    const char* caption;
    const char* acceptText;
    bool resourceLibraryLoadedDuringCall;
};

class PageSource : public LicenceDialogTest, public ::testing::WithParamInterface<ResourceCase> {};

// Template 1001 comes from the resource library when it holds one, from the
// library's own resources otherwise; the exit question is always the
// library's own. After the call neither the resource library nor the
// rich-edit library is loaded any more.
TEST_P(PageSource, TemplateFromTheResourceLibraryWhenItHasOne) {
    const ResourceCase source = GetParam();
    std::optional<ScopedFileCopy> resourceLibrary;
    if (source.resourceLibrary != nullptr) {
        resourceLibrary.emplace(source.resourceLibrary, HostFolder() + "\\" + kResourceLibraryFile);
    }

    std::string caption;
    std::string acceptText;
    ModulesSeen during;
    const int result = ShowWith([&](UiSession& robot, HWND page) {
        caption = ui::Text(page);
        acceptText = ui::ItemText(page, IDC_ACCEPT);
        during.Sample();
        ui::Click(page, IDCANCEL);
        AnswerExitQuestion(robot, page, IDYES);
    });

    EXPECT_EQ(result, 0);
    EXPECT_EQ(caption, source.caption);
    EXPECT_EQ(acceptText, source.acceptText);
    EXPECT_EQ(during.resourceLibrary, source.resourceLibraryLoadedDuringCall);
    EXPECT_TRUE(during.richEdit) << "the view's window class comes from the rich-edit library";
    EXPECT_FALSE(IsModuleLoaded(kResourceLibraryFile)) << "resource library still loaded after the call";
    EXPECT_FALSE(IsModuleLoaded(kRichEditLibraryFile)) << "rich-edit library still loaded after the call";
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PageSource,
    ::testing::Values(
        ResourceCase{"NoResourceLibrary", nullptr, "Product License Agreement", "I &accept the agreement", false},
        ResourceCase{"FullFixture", kFixtureFullPath, "[fixture] Product License Agreement", "[fixture] I &accept",
                     true},
        ResourceCase{"PartialFixtureWithoutTheTemplate", kFixturePartialPath, "Product License Agreement",
                     "I &accept the agreement", true}),
    [](const ::testing::TestParamInfo<ResourceCase>& tested) { return std::string(tested.param.name); });

// ---- the agreement text ----

constexpr char kSampleAgreement[] =
    "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fswiss Arial;}{\\f1\\fnil\\fcharset2 Symbol;}}\n"
    "\\pard\\f0\\fs20{\\b Licence Agreement}\\par\n"
    "Read these terms.\\par\n"
    "{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt\\pnf1\\pnindent360{\\pntxtb\\'B7}}\\fi-360\\li360 First term\\par\n"
    "{\\pntext\\f1\\'B7\\tab}Second term\\par\n"
    "\\pard Last line.\n"
    "}\n";
constexpr char kSampleAgreementText[] = "Licence Agreement\r\nRead these terms.\r\nFirst term\r\nSecond term\r\nLast line.";

CHARFORMATA CharFormatAt(HWND view, int start, int end) {
    CHARFORMATA format = {};
    format.cbSize = sizeof(format);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(view, EM_SETSEL, static_cast<WPARAM>(start), end, SMTO_ABORTIFHUNG, 5000, &ignored);
    SendMessageTimeoutA(view, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format), SMTO_ABORTIFHUNG,
                        5000, &ignored);
    return format;
}

PARAFORMAT ParaFormatAt(HWND view, int position) {
    PARAFORMAT format = {};
    format.cbSize = sizeof(format);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(view, EM_SETSEL, static_cast<WPARAM>(position), position, SMTO_ABORTIFHUNG, 5000, &ignored);
    SendMessageTimeoutA(view, EM_GETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&format), SMTO_ABORTIFHUNG, 5000,
                        &ignored);
    return format;
}

// Real RTF shows as formatted text: the title bold, the terms as a bulleted
// list, no RTF markup in the text. The file is closed while the page is
// shown (another program may open it exclusively) and is never written.
TEST_F(LicenceDialogTest, RtfAgreementShowsFormattedText) {
    WriteAgreement(kSampleAgreement);

    std::string text;
    CHARFORMATA title = {};
    CHARFORMATA body = {};
    PARAFORMAT term = {};
    PARAFORMAT plain = {};
    bool openedExclusively = false;
    const int result = ShowWith([&](UiSession&, HWND page) {
        text = ui::ControlText(page, IDC_AGREEMENT_TEXT);
        HWND view = ui::Item(page, IDC_AGREEMENT_TEXT);
        title = CharFormatAt(view, 0, 7);
        body = CharFormatAt(view, 19, 23);
        plain = ParaFormatAt(view, 19);
        term = ParaFormatAt(view, static_cast<int>(text.find("First term")));

        HANDLE exclusive = CreateFileA(AgreementPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
        openedExclusively = exclusive != INVALID_HANDLE_VALUE;
        if (openedExclusively) CloseHandle(exclusive);

        Choose(page, IDC_ACCEPT, kAccepted);
        ui::Click(page, IDOK);
    });

    EXPECT_EQ(result, 1);
    EXPECT_EQ(text, kSampleAgreementText);
    EXPECT_TRUE((title.dwMask & CFM_BOLD) && (title.dwEffects & CFE_BOLD)) << "title not bold";
    EXPECT_TRUE((body.dwMask & CFM_BOLD) && !(body.dwEffects & CFE_BOLD)) << "body text bold";
    EXPECT_EQ(term.wNumbering, PFN_BULLET) << "the terms are not a bulleted list";
    EXPECT_EQ(plain.wNumbering, 0) << "a plain paragraph carries a bullet";
    EXPECT_TRUE(openedExclusively) << "license.rtf is still held open while the page is shown";
    EXPECT_EQ(fs::ReadFile(AgreementPath()), kSampleAgreement);
}

// Another program that has "license.rtf" open during the call.
struct Holder {
    DWORD access;
    DWORD sharing;
};
constexpr Holder kExclusiveWriter{GENERIC_READ | GENERIC_WRITE, 0};
constexpr Holder kSharingReader{GENERIC_READ, FILE_SHARE_READ};

struct AgreementCase {
    const char* name;
    std::function<void(const std::string& path)> place;  // puts "license.rtf" in place, or not
    std::optional<Holder> holder;                         // none: nobody else has it open
    std::optional<std::string> expectedText;               // none: whatever the control makes of it
};

void PrintTo(const AgreementCase& agreement, std::ostream* out) { *out << agreement.name; }

class UnusableAgreement : public LicenceDialogTest, public ::testing::WithParamInterface<AgreementCase> {};

std::string PseudoRandomBytes(size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 16);
    }
    return bytes;
}

// Whatever is (or is not) in "license.rtf", the page opens, shows no
// message, and can be accepted and left with Next.
TEST_P(UnusableAgreement, PageStillWorks) {
    const AgreementCase agreement = GetParam();
    agreement.place(AgreementPath());
    HANDLE holder = INVALID_HANDLE_VALUE;
    if (agreement.holder) {
        holder = CreateFileA(AgreementPath().c_str(), agreement.holder->access, agreement.holder->sharing, nullptr,
                             OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    }

    std::string text;
    const int result = ShowWith([&](UiSession&, HWND page) {
        text = ui::ControlText(page, IDC_AGREEMENT_TEXT);
        Choose(page, IDC_ACCEPT, kAccepted);
        ui::Click(page, IDOK);
    });
    if (holder != INVALID_HANDLE_VALUE) CloseHandle(holder);

    EXPECT_EQ(result, 1);
    if (agreement.expectedText) {
        EXPECT_EQ(text, *agreement.expectedText);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnusableAgreement,
    ::testing::Values(
        AgreementCase{"Missing", [](const std::string&) {}, std::nullopt, std::string()},
        AgreementCase{"Empty", [](const std::string& path) { fs::WriteFile(path, ""); }, std::nullopt, std::string()},
        AgreementCase{"Folder", [](const std::string& path) { fs::CreateFolders(path); }, std::nullopt, std::string()},
        AgreementCase{"HeldOpenByAnotherProgram", [](const std::string& path) { fs::WriteFile(path, kSampleAgreement); },
                      kExclusiveWriter, std::string()},
        // The page reads it without sharing: another program that merely
        // reads it (and lets others read) keeps it from the page as well.
        AgreementCase{"OpenForReadingByAnotherProgram",
                      [](const std::string& path) { fs::WriteFile(path, kSampleAgreement); }, kSharingReader,
                      std::string()},
        AgreementCase{"BinaryGarbage", [](const std::string& path) { fs::WriteFile(path, PseudoRandomBytes(256 * 1024)); },
                      std::nullopt, std::nullopt},
        AgreementCase{"GarbageAfterAnRtfHeader",
                      [](const std::string& path) { fs::WriteFile(path, "{\\rtf1\\ansi " + PseudoRandomBytes(256 * 1024)); },
                      std::nullopt, std::nullopt},
        AgreementCase{"UnterminatedRtf", [](const std::string& path) { fs::WriteFile(path, "{\\rtf1\\ansi {\\b Title"); },
                      std::nullopt, std::nullopt}),
    [](const ::testing::TestParamInfo<AgreementCase>& tested) { return std::string(tested.param.name); });

// A 5 MB agreement: 60,000 characters of text, more than the rich-edit
// control's default limit of 32,767, followed by a large block that RTF
// readers skip (as an embedded object's data would be). The whole file is
// streamed; the view shows the start of the text exactly, at least up to the
// default limit.
TEST_F(LicenceDialogTest, FiveMegabyteAgreement) {
    std::string expected;
    std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20\n";
    for (int paragraph = 0; expected.size() < 60000; ++paragraph) {
        const std::string line = "Term " + std::to_string(paragraph) + ": " + std::string(290, static_cast<char>('a' + paragraph % 26));
        if (!expected.empty()) expected += "\r\n";
        expected += line;
        rtf += line + "\\par\n";
    }
    expected += "\r\n";
    rtf += "{\\*\\tarnvalepadding ";
    while (rtf.size() < 5 * 1024 * 1024) rtf += "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef\n";
    rtf += "}}";
    WriteAgreement(rtf);

    std::string text;
    const int result = ShowWith([&](UiSession&, HWND page) {
        text = ui::ControlText(page, IDC_AGREEMENT_TEXT);
        Choose(page, IDC_ACCEPT, kAccepted);
        ui::Click(page, IDOK);
    });

    EXPECT_EQ(result, 1);
    EXPECT_GE(text.size(), 32767u);
    EXPECT_LE(text.size(), expected.size());
    EXPECT_EQ(text, expected.substr(0, text.size())) << "the view does not show the start of the agreement";
    RecordProperty("shown_characters", static_cast<int>(text.size()));
    std::printf("5 MB agreement: the view shows %zu of %zu characters\n", text.size(), expected.size());
}

// ---- the layout ----

RECT RectAt(int left, int top, int width, int height) { return RECT{left, top, left + width, top + height}; }

// Where the controls belong for a client area of cx by cy, with the push
// buttons and radio buttons at their first sizes.
std::map<int, RECT> ArrangedFor(int cx, int cy, SIZE button, SIZE radio) {
    const int half = button.cx / 2;
    const int mid = cx / 2;
    return {
        {IDC_AGREEMENT_TEXT, RectAt(10, 40, cx - 20, cy - 125)},
        {IDOK, RectAt(mid - half, cy - 30, button.cx, button.cy)},
        {IDCANCEL, RectAt(mid + half + 20, cy - 30, button.cx, button.cy)},
        {IDC_BACK, RectAt(mid - half - button.cx - 20, cy - 30, button.cx, button.cy)},
        {IDC_ACCEPT, RectAt(10, cy - 75, radio.cx, radio.cy)},
        {IDC_DECLINE, RectAt(10, cy - 70 + radio.cy, radio.cx, radio.cy)},
    };
}

std::string Describe(const RECT& rect) {
    std::ostringstream out;
    out << "(" << rect.left << "," << rect.top << ") " << rect.right - rect.left << "x" << rect.bottom - rect.top;
    return out.str();
}

SIZE SizeOf(const RECT& rect) { return SIZE{rect.right - rect.left, rect.bottom - rect.top}; }

HWND Label(HWND page) { return FindWindowExA(page, nullptr, "Static", nullptr); }

RECT LabelRect(HWND page) {
    RECT rect = {};
    GetWindowRect(Label(page), &rect);
    MapWindowPoints(HWND_DESKTOP, page, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

struct ResizeCase {
    const char* name;
    int widthChange;   // asked of the window, from its first size
    int heightChange;
    bool pastTheLimit;  // set without the platform's size limits (no WM_WINDOWPOSCHANGING)
    SIZE outcome;       // the window's size afterwards, from its first size
    bool maximise;      // maximise instead
};

void PrintTo(const ResizeCase& resize, std::ostream* out) { *out << resize.name; }

class ResizingThePage : public LicenceDialogTest, public ::testing::WithParamInterface<ResizeCase> {};

// The page never gets smaller than it opened, measured on the window as the
// platform draws it: the frame stops at the first window size in each
// direction (a size it refuses changes nothing), and a size set past that
// limit snaps the window back to its first size, with the controls arranged
// for the first client area. Larger stretches the view and keeps Next
// centred at the bottom with Back and Cancel 20 pixels to each side. The
// label above the view keeps its place.
TEST_P(ResizingThePage, ControlsFollowTheArrangement) {
    const ResizeCase resize = GetParam();
    const int result = ShowWith([&](UiSession&, HWND page) {
        const RECT firstClient = ui::ClientRect(page);
        const RECT firstWindow = ui::WindowRect(page);
        const SIZE first = SizeOf(firstWindow);
        const SIZE button = SizeOf(ui::ItemClientRect(page, IDOK));
        const SIZE radio = SizeOf(ui::ItemClientRect(page, IDC_DECLINE));
        const RECT label = LabelRect(page);
        ASSERT_NE(Label(page), nullptr);
        std::map<int, RECT> firstItems;
        for (const auto& [id, rect] : ArrangedFor(firstClient.right, firstClient.bottom, button, radio)) {
            firstItems[id] = ui::ItemClientRect(page, id);
        }

        if (resize.maximise) {
            ShowWindow(page, SW_MAXIMIZE);
        } else {
            SetWindowPos(page, nullptr, 0, 0, first.cx + resize.widthChange, first.cy + resize.heightChange,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | (resize.pastTheLimit ? SWP_NOSENDCHANGING : 0));
        }

        const RECT client = ui::ClientRect(page);
        if (resize.maximise) {
            EXPECT_GE(client.right, firstClient.right);
            EXPECT_GE(client.bottom, firstClient.bottom);
            EXPECT_TRUE(client.right > firstClient.right || client.bottom > firstClient.bottom) << "did not grow";
        } else {
            EXPECT_EQ(Describe(ui::WindowRect(page)), Describe(RectAt(firstWindow.left, firstWindow.top,
                                                                      first.cx + resize.outcome.cx,
                                                                      first.cy + resize.outcome.cy)))
                << "window after the resize, opened at " << Describe(firstWindow);
            // The frame is the same, so the client area changes by as much.
            EXPECT_EQ(Describe(client), Describe(RectAt(0, 0, firstClient.right + resize.outcome.cx,
                                                        firstClient.bottom + resize.outcome.cy)))
                << "client area after the resize, opened at " << Describe(firstClient);
        }
        // A size the frame refuses leaves the page as it opened; every other
        // change of size arranges the controls for the client area.
        const bool unchanged = !resize.maximise && !resize.pastTheLimit && resize.outcome.cx == 0 &&
                               resize.outcome.cy == 0;
        const std::map<int, RECT> expected =
            unchanged ? firstItems : ArrangedFor(client.right, client.bottom, button, radio);
        for (const auto& [id, rect] : expected) {
            EXPECT_EQ(Describe(ui::ItemClientRect(page, id)), Describe(rect)) << "control " << id;
        }
        EXPECT_EQ(Describe(LabelRect(page)), Describe(label)) << "the label moved";
        ui::Click(page, IDC_BACK);
    });
    EXPECT_EQ(result, kBack);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, ResizingThePage,
    ::testing::Values(ResizeCase{"SmallerBothWays", -120, -90, false, {0, 0}, false},
                      ResizeCase{"NarrowerOnly", -1, 150, false, {0, 150}, false},
                      ResizeCase{"LowerOnly", 200, -1, false, {200, 0}, false},
                      ResizeCase{"SmallerBothWaysPastTheLimit", -120, -90, true, {0, 0}, false},
                      ResizeCase{"NarrowerOnlyPastTheLimit", -1, 150, true, {0, 0}, false},
                      ResizeCase{"LowerOnlyPastTheLimit", 200, -1, true, {0, 0}, false},
                      ResizeCase{"LargerOddWidth", 187, 241, false, {187, 241}, false},
                      ResizeCase{"WiderOnly", 333, 0, false, {333, 0}, false},
                      ResizeCase{"Maximised", 0, 0, false, {0, 0}, true}),
    [](const ::testing::TestParamInfo<ResizeCase>& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace tarnvale::test
