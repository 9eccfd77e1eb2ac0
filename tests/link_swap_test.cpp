// Another program swaps a folder, a target, a staging file or a list for a link to a place outside
// the install folder at each step of a run: nothing outside changes, and the run either ends as an
// uninterrupted one, with its files in the folders it opened, or fails.
#include "tests/support/link_swap.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/platform/fault_injection.h"
#include "engine/update_run.h"
#include "formats/version_list_writer.h"
#include "tests/support/folder.h"
#include "tests/support/patch_file.h"
#include "tests/support/scripted_host.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// Every file under a folder with its bytes, a read-only one named so.
Snapshot stateOf(const std::string& folder) {
    Snapshot state;
    for (const auto& [name, bytes] : snapshot(folder)) {
        const auto permissions = fs::status(fs::path(folder) / name).permissions();
        state[name + ((permissions & fs::perms::owner_write) == fs::perms::none ? " (read-only)" : "")] = bytes;
    }
    return state;
}

struct LinkSwapTest : testing::Test {
    TempFolder temp;
    const std::string game = temp.file("game"), outside = temp.file("outside"), patch = temp.file("setup.exe");
    const Bytes a = Bytes(3000, 'a'), b = bytesOf("new b");
    const Snapshot before{{"a.arc", bytesOf("old a")},
                          {"sub/b.arc", bytesOf("old b")},
                          {"TLX.hvl", bytesOf("old list")},
                          {"uninst.lst", bytesOf("A.arc\r\n")}};
    const Bytes list =
        *makeVersionList({{"a.arc", checkValueOf(a)}, {"sub\\b.arc", checkValueOf(b)}, {"gone.arc", {}}});
    Snapshot after;

    void SetUp() override {
        clearFaults();
        writePatchFile(patch, {{"a.arc", a}, {"b.arc", b}, {"TLX.hvl", list}});
        prepare(game);
        resetFaultCounters();
        EXPECT_EQ(run(), Ok);
        after = snapshot(game);
    }
    void TearDown() override { clearFaults(); }

    // The install folder as before the run, and beside it a folder that holds a file of each name the
    // run writes, some of them read-only.
    void prepare(const std::string& folder) {
        restore(folder, before);
        restore(outside, {});
        for (const char* name : {"a.arc", "a.arc.tmp", "b.arc", "b.arc.tmp", "TLX.hvl", "TLX.hvl.prune~", "uninst.lst",
                                 "uninst.lst.new"}) {
            writeFile(outside + "/" + name, bytesOf("outside "s + name));
        }
        for (const char* name : {"a.arc", "b.arc.tmp", "uninst.lst", "TLX.hvl.prune~"}) {
            fs::permissions(outside + "/" + name, fs::perms::owner_read | fs::perms::group_read);
        }
    }
    UpdateResult run(UpdateRunReport* report = nullptr) {
        ScriptedHost script;
        script.withControls = false;
        return runUpdateFromPatch(patch.c_str(), game.c_str(), script.host(), report);
    }
};

struct Swap {
    std::string path, target;
};

void swap(void* context) {
    const Swap& swap = *static_cast<const Swap*>(context);
    swapForLink(swap.path, swap.target);
}

TEST_F(LinkSwapTest, NothingOutsideChangesWhateverIsSwappedForALinkWhenever) {
    if (!canSwapForLinks()) GTEST_SKIP() << "links cannot be made here";
    const std::string sibling = temp.file("game-old");  // its path begins with the install folder's
    const struct {
        const char* what;
        std::string name, target;
    } swaps[] = {
        {"the subfolder", "sub", outside},
        {"the subfolder, into a sibling folder", "sub", sibling},
        {"a target", "a.arc", outside + "/a.arc"},
        {"a staging file", "sub/b.arc.tmp", outside + "/b.arc.tmp"},
        {"the version list", "TLX.hvl", outside + "/TLX.hvl"},
        {"the uninstall list", "uninst.lst", outside + "/uninst.lst"},
    };
    uint32_t counts[static_cast<int>(FaultOperation::Count) + 1] = {};  // Count: before the run, once
    prepare(game);
    resetFaultCounters();
    ASSERT_EQ(run(), Ok);
    for (int kind = 0; kind < static_cast<int>(FaultOperation::Count); ++kind) {
        counts[kind] = faultOperationCount(static_cast<FaultOperation>(kind));
    }
    for (const auto& tried : swaps) {
        Swap context{game + "/" + tried.name, tried.target};
        for (const FaultOperation kind : {FaultOperation::Count, FaultOperation::Folder, FaultOperation::Open,
                                          FaultOperation::Write, FaultOperation::Move}) {
            // Before the run (Count), then right before each operation of a kind that marks a step.
            for (uint32_t nth = kind == FaultOperation::Count ? 0 : 1; nth <= counts[static_cast<int>(kind)]; ++nth) {
                const std::string what = std::string(tried.what) + " before operation " +
                                         std::to_string(static_cast<int>(kind)) + " #" + std::to_string(nth);
                prepare(game);
                restore(sibling, {{"b.arc", bytesOf("sibling b")}, {"b.arc.tmp", bytesOf("sibling b.arc.tmp")}});
                const auto outsideBefore = stateOf(outside), siblingBefore = stateOf(sibling);
                if (kind == FaultOperation::Count) {
                    swap(&context);
                    resetFaultCounters();
                } else {
                    actBeforeOperation(kind, nth, swap, &context);
                }
                UpdateRunReport report;
                const UpdateResult result = run(&report);
                clearFaults();
                EXPECT_EQ(difference(stateOf(outside), outsideBefore), "") << what;
                EXPECT_EQ(difference(stateOf(sibling), siblingBefore), "") << what;
                undoSwap(context.path);
                if (result == Ok) {
                    Snapshot expected = after;
                    if (report.failedStep != RunStep::None) expected["TLX.hvl"] = list;  // installed, not pruned
                    EXPECT_EQ(difference(snapshot(game), expected), "") << what;
                } else {
                    EXPECT_TRUE(result == FileWriteFailed || result == UninstallListFailed) << what << ": " << result;
                }
            }
        }
    }
}

}  // namespace

// A volume that gives no normalized final path, or none at all (some RAM disks, mounted images and
// network shares), is not refused; where another form works, a subfolder that leads out is still
// found by it.
TEST_F(LinkSwapTest, AVolumeWithoutFinalPathsIsNotRefused) {
    if (faultOperationCount(FaultOperation::FinalPath) == 0) GTEST_SKIP() << "no final paths are looked at here";
    const struct {
        const char* what;
        uint32_t failing;  // calls that fail from the first on: the install folder's normalized form first
        bool linked;
        UpdateResult expected;
    } cases[] = {
        {"no normalized final path", 1, false, Ok},
        {"no normalized final path, a subfolder that leads out", 1, true, FileWriteFailed},
        {"no final path at all", UINT32_MAX, false, Ok},
    };
    for (const auto& test : cases) {
        prepare(game);
        if (test.linked) swapForLink(game + "/sub", outside);
        const auto outsideBefore = stateOf(outside);
        injectFault(FaultOperation::FinalPath, 1, FaultEffect::Fail, test.failing);
        UpdateRunReport report;
        EXPECT_EQ(run(&report), test.expected) << test.what;
        clearFaults();
        EXPECT_EQ(difference(stateOf(outside), outsideBefore), "") << test.what;
        undoSwap(game + "/sub");
        if (test.expected == Ok) {
            EXPECT_EQ(difference(snapshot(game), after), "") << test.what;
        }
    }
}
