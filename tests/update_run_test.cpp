// The update run on patch files and a temporary install folder, on both platforms.
#include "engine/update_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "engine/file_system.h"
#include "engine/hold_wait.h"
#include "engine/platform/fault_injection.h"
#include "formats/version_list_writer.h"
#include "tests/support/folder.h"
#include "tests/support/patch_file.h"
#include "tests/support/scripted_host.h"

namespace {

using namespace std::string_literals;

std::string label(const std::string& target) {
    return "text label " + target +
           "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86; ";  // をインストール中
}

// The typical patch: a.arc of two copy chunks, the version list (which has no record of itself and
// is installed unverified), a new b.arc and an empty TLX.exe. The list also names
// a file the folder has and one it lacks, which the pruning drops.
struct UpdateRunTest : testing::Test {
    TempFolder temp;
    std::string folder = temp.file("game"), patch = temp.file("setup.exe");
    ScriptedHost script;
    std::vector<PayloadEntrySource> entries;
    std::vector<VersionRecordSource> records;
    Snapshot before, after;  // the install folder before the update and after a complete run

    void SetUp() override {
        clearFaults();
        Bytes a(runChunkSize + 1), b = bytesOf("new b");
        std::mt19937 random(1);
        for (uint8_t& byte : a) byte = static_cast<uint8_t>(random());
        records = {{"a.arc", checkValueOf(a)},
                   {"b.arc", checkValueOf(b)},
                   {"kept.dat", {}},
                   {"gone.dat", {}},
                   {"TLX.exe", checkValueOf({})}};
        entries = {{"a.arc", a}, {"TLX.hvl", *makeVersionList(records)}, {"b.arc", b}, {"TLX.exe", {}}};
        before = {{"a.arc", bytesOf("old a")},
                  {"kept.dat", {}},
                  {"sub/kept.dat", {}},
                  {"TLX.hvl", bytesOf("old list")},
                  {"uninst.lst", bytesOf("TLX.exe\r\n$Folder\r\nA.arc\r\n")}};
        after = before;
        after["a.arc"] = a;
        after["b.arc"] = b;
        after["TLX.exe"] = {};
        after["TLX.hvl"] = *makeVersionList({records[0], records[1], records[2], records[4]});
        after["uninst.lst"] = bytesOf("tlx.exe\na.arc\ntlx.hvl\nb.arc\n$folder\n\0"s);
        writePatch(entries);
        restore(folder, before);
    }
    void TearDown() override { clearFaults(); }

    void writePatch(const std::vector<PayloadEntrySource>& payload) { writePatchFile(patch, payload); }
    UpdateResult run(UpdateRunReport* report = nullptr) {
        const RunHost host = script.host();
        return runUpdateFromPatch(patch.c_str(), folder.c_str(), host, report);
    }
    static std::string failure(const UpdateRunReport& report) {
        return runStepName(report.failedStep) + (":"s + report.failedName);
    }
};

TEST_F(UpdateRunTest, TypicalRunInstallsVerifiesPrunesMergesAndShowsItsProgress) {
    // A read-only target and a read-only staging file left by an earlier run are replaced all the same.
    writeFile(folder + "/a.arc.tmp", bytesOf("left over"));
    for (const char* name : {"/a.arc", "/a.arc.tmp"}) {
        std::filesystem::permissions(folder + name, std::filesystem::perms::owner_read);
    }
    ASSERT_EQ(run(), Ok);
    EXPECT_EQ(difference(snapshot(folder), after), "");
    std::string calls;
    for (const std::string& call : script.calls) calls += call + "; ";
    EXPECT_EQ(
        calls,
        "range file 0 65535; position file 0; range overall 0 4; position overall 0; pump 1; " + label("a.arc") +
            "position file 0; pump 2; position file 65534; pump 3; position file 65535; pump 4; "
            "position overall 1; pump 5; " +
            label("TLX.hvl") + "position file 0; pump 6; position file 65535; pump 7; position overall 2; pump 8; " +
            label("b.arc") + "position file 0; pump 9; position file 65535; pump 10; position overall 3; pump 11; " +
            label("TLX.exe") + "position file 0; pump 12; position overall 4; pump 13; ");

    // Without a dialog and without an uninstall list: installed and pruned, the failure to merge
    // reported, and nothing displayed.
    restore(folder, before);
    std::filesystem::remove(folder + "/uninst.lst");
    after.erase("uninst.lst");
    script = ScriptedHost{};
    script.withControls = false;
    UpdateRunReport report;
    EXPECT_EQ(run(&report), UninstallListFailed);
    EXPECT_EQ(difference(snapshot(folder), after), "");
    EXPECT_EQ(script.calls.size(), script.pumps) << "every call is a pump";
    EXPECT_EQ(failure(report), "merge:uninst.lst");
    EXPECT_NE(report.systemError, 0u) << "the failed open's";

    // A read-only list is left as it is, and the report tells it with access denied: the version
    // list (which b.arc alone does not replace) while the run succeeds, the uninstall list failing it.
    writePatch({entries[2]});
    for (const std::string list : {"TLX.hvl", "uninst.lst"}) {
        restore(folder, before);
        std::filesystem::permissions(folder + "/" + list, std::filesystem::perms::owner_read);
        report = {};
        EXPECT_EQ(run(&report), list == "TLX.hvl" ? Ok : UninstallListFailed);
        EXPECT_EQ(failure(report), (list == "TLX.hvl" ? "prune:" : "merge:") + list);
        EXPECT_EQ(report.systemError, refusalCode(Refusal::AccessDenied)) << list;
    }
}

// A stop leaves the folder as it was, and nothing is displayed or pumped after the pump that brought
// it: one during the first of a.arc's two chunks (pump 3) ends its copy there.
TEST_F(UpdateRunTest, StopsLeaveTheFolderAsItWas) {
    const struct {
        const char* what;
        uint32_t quitAt, abortAt, cancelAt;
        UpdateResult expected;
    } cases[] = {
        {"quit message at the set-up pump", 1, 0, 0, Cancelled},
        {"quit message after the first chunk", 3, 0, 0, Cancelled},
        {"abort confirmed after the first chunk", 0, 3, 0, Aborted},
        {"dialog closed after the first chunk", 0, 0, 3, Cancelled},
        {"quit message before a copy", 6, 0, 0, Cancelled},
        {"dialog closed after the last entry passed", 0, 0, 13, Cancelled},
        {"abort confirmed and dialog closed: the abort wins", 0, 5, 5, Aborted},
    };
    for (const auto& test : cases) {
        restore(folder, before);
        script = ScriptedHost{};
        script.quitAtPump = test.quitAt;
        script.abortAtPump = test.abortAt;
        script.cancelAtPump = test.cancelAt;
        UpdateRunReport report;
        EXPECT_EQ(run(&report), test.expected) << test.what;
        EXPECT_EQ(failure(report), ":") << test.what << ": a stop records nothing";
        EXPECT_EQ(difference(snapshot(folder), before), "") << test.what;
        EXPECT_EQ(script.calls.back(), "pump " + std::to_string(std::max({test.quitAt, test.abortAt, test.cancelAt})))
            << test.what;
    }
}

TEST_F(UpdateRunTest, FailuresBeforeTheCommitChangeNothingAndGiveTheirResult) {
    const auto damaged = [&](size_t record) {  // the typical patch, one of whose records does not match
        std::vector<VersionRecordSource> list = records;
        list[record].checkValue[7] ^= 1;
        std::vector<PayloadEntrySource> payload = entries;
        payload[1].bytes = *makeVersionList(list);
        return payload;
    };
    const Bytes e = bytesOf("e");
    const auto listOf = [&](const std::string& name) { return *makeVersionList({{name, checkValueOf(e)}}); };
    const std::string deep = std::string(230, 'd') + "\\e";  // joined with the folder, past 260 bytes
    const Bytes climbing = listOf("..\\evil.arc");
    std::vector<PayloadEntrySource> many(33, {"f", e});
    for (int i = 0; i < 33; ++i) many[i].name += std::to_string(i);
    constexpr FaultOperation none = FaultOperation::Count;
    const struct {
        const char* what;
        std::vector<PayloadEntrySource> payload;  // empty: the typical patch
        UpdateResult expected;
        std::string failure;  // the report's step and name
        FaultOperation fault = none;
        uint32_t nth = 0;
    } cases[] = {
        {"b.arc does not match its record, the entries before it staged", damaged(1), PayloadDamaged, "verify:b.arc"},
        {"33 entries", many, TooManyEntries, "count:"},
        {"an entry name climbing out", {{"a.arc", e}, {"..\\evil.arc", e}}, PayloadDamaged, "name:..\\evil.arc"},
        {"a record name climbing out", {{"evil.arc", e}, {"TLX.hvl", climbing}}, PayloadDamaged, "name:..\\evil.arc"},
        {"two entries, one target", {{"a.arc", e}, {"A.ARC", e}}, PayloadDamaged, "name:A.ARC"},
        {"the staging file of an earlier entry", {{"a.arc", e}, {"a.arc.tmp", e}}, PayloadDamaged, "name:a.arc.tmp"},
        {"a staging file named after a later entry", {{"A.ARC.TMP", e}, {"a.arc", e}}, PayloadDamaged, "name:a.arc"},
        {"the merge's temporary file", {{"uninst.lst.new", e}}, PayloadDamaged, "name:uninst.lst.new"},
        {"the pruning's temporary file", {{"TLX.HVL.PRUNE~", e}}, PayloadDamaged, "name:TLX.HVL.PRUNE~"},
        {"\"/\" and \"\\\" name one file", {{"sub/a.arc", e}, {"SUB\\A.ARC", e}}, PayloadDamaged, "name:SUB\\A.ARC"},
        {"a staging file, other separator", {{"sub\\a", e}, {"sub/a.tmp", e}}, PayloadDamaged, "name:sub/a.tmp"},
        {"a trailing dot, which Windows strips", {{"a.arc.", e}}, PayloadDamaged, "name:a.arc."},
        {"a trailing space", {{"sub \\a.arc", e}}, PayloadDamaged, "name:sub \\a.arc"},
        // Names are judged before the first staging file is created: an earlier entry is not staged either.
        {"a device name", {{"a.arc", e}, {"nul", e}}, PayloadDamaged, "name:nul"},
        {"a device name with an extension", {{"sub\\Com1.arc", e}}, PayloadDamaged, "name:sub\\Com1.arc"},
        {"a device name with spaces before its extension",
         {{"a.arc", e}, {"con  .arc", e}},
         PayloadDamaged,
         "name:con  .arc"},
        {"the device names with 0 and with $",
         {{"a.arc", e}, {"lpt0.x", e}, {"CONIN$", e}},
         PayloadDamaged,
         "name:lpt0.x"},
        {"an empty name", {{"a.arc", e}, {"", e}}, PayloadDamaged, "name:"},
        {"an empty part between separators", {{"sub\\\\a.arc", e}}, PayloadDamaged, "name:sub\\\\a.arc"},
        {"half a double-byte character at the end", {{"a.arc", e}, {"b\x95", e}}, PayloadDamaged, "name:b\x95"},
        {"a stream", {{"a.arc:x", e}}, PayloadDamaged, "name:a.arc:x"},
        {"a wildcard", {{"a?.arc", e}}, PayloadDamaged, "name:a?.arc"},
        {"a control character", {{"a\x01.arc", e}}, PayloadDamaged, "name:a\x01.arc"},
        {"no memory for the archive's index", {}, FileWriteFailed, "memory:", none, ~0u},
        {"a path over 260 bytes", {{"e", e}, {"TLX.hvl", listOf(deep)}}, FileWriteFailed, "path:" + deep},
        {"the patch cannot be opened", {}, PayloadDamaged, "read:", FaultOperation::Open, 1},
        {"a read of the payload fails", {}, PayloadDamaged, "read:a.arc", FaultOperation::Read, 5},
        {"a staging file cannot be created", {}, FileWriteFailed, "open:a.arc", FaultOperation::Open, 2},
        {"a staging write fails", {}, FileWriteFailed, "write:a.arc", FaultOperation::Write, 1},
    };
    // A staging file left by an earlier run for an entry this run never reaches is not this run's.
    before["TLX.exe.tmp"] = bytesOf("left over");
    restore(folder, before);
    for (const auto& test : cases) {
        writePatch(test.payload.empty() ? entries : test.payload);
        resetFaultCounters();
        if (test.fault != none) injectFault(test.fault, test.nth, FaultEffect::Fail);
        failArrayAllocations = test.nth == ~0u;
        UpdateRunReport report;
        const UpdateResult result = run(&report);
        failArrayAllocations = false;
        EXPECT_EQ(result, test.expected) << test.what;
        EXPECT_EQ(failure(report), test.failure) << test.what;
        EXPECT_EQ(report.systemError, test.fault != none ? refusalCode(Refusal::InjectedFault) : 0) << test.what;
        if (test.failure.starts_with("name:") || test.failure.starts_with("path:")) {
            EXPECT_EQ(faultOperationCount(FaultOperation::Open), 1u) << test.what << ": only the patch was opened";
        }
        clearFaults();
        EXPECT_FALSE(std::filesystem::exists(temp.file("evil.arc"))) << test.what;
        EXPECT_EQ(difference(snapshot(folder), before), "") << test.what;
    }
}

// Every open, read, write, seek and move of the typical run, made to fail or come back short in
// turn: the folder holds what the result allows, and a rerun without the fault leaves exactly what
// an uninterrupted run leaves.
TEST_F(UpdateRunTest, EveryFaultLeavesWhatTheResultAllowsAndARerunRecovers) {
    for (int kind = 0; kind < static_cast<int>(FaultOperation::Count); ++kind) {
        restore(folder, before);
        resetFaultCounters();
        ASSERT_EQ(run(), Ok);
        const uint32_t count = faultOperationCount(static_cast<FaultOperation>(kind));
        for (uint32_t trial = 0; trial < 2 * count; ++trial) {
            const std::string what = "operation " + std::to_string(kind) + " #" + std::to_string(trial % count + 1) +
                                     (trial < count ? " fails" : " is short");
            restore(folder, before);
            injectFault(static_cast<FaultOperation>(kind), trial % count + 1,
                        trial < count ? FaultEffect::Fail : FaultEffect::Short);
            UpdateRunReport report;
            const UpdateResult result = run(&report);
            clearFaults();
            // The failure behind the result, with the fault's code unless a read (1) or write (2) came back short.
            const bool shortTransfer = trial >= count && (kind == 1 || kind == 2);
            const bool recorded = report.failedStep != RunStep::None;
            EXPECT_EQ(report.systemError, recorded && !shortTransfer ? refusalCode(Refusal::InjectedFault) : 0) << what;
            const bool pruning = report.failedStep == RunStep::Prune || report.failedName == "TLX.hvl.prune~"s;
            EXPECT_EQ(result == Ok, !recorded || pruning) << what;
            EXPECT_TRUE(report.failedStep != RunStep::Move || report.failedName == entries[report.installedCount].name)
                << what;
            const Snapshot now = snapshot(folder);
            Snapshot allowed = before;  // entries are moved in index order
            for (uint32_t i = 0; i < report.installedCount; ++i) allowed[entries[i].name] = entries[i].bytes;
            if (result == Ok || result == UninstallListFailed) {
                EXPECT_EQ(report.installedCount, 4u) << what;
                if (now.at("TLX.hvl") == after.at("TLX.hvl")) allowed["TLX.hvl"] = after.at("TLX.hvl");  // pruned
                if (result == Ok) allowed["uninst.lst"] = after.at("uninst.lst");
            } else {
                EXPECT_TRUE(result == PayloadDamaged || result == FileWriteFailed) << what << ": " << result;
            }
            EXPECT_EQ(difference(now, allowed), "") << what;
            EXPECT_EQ(run(), Ok) << what;
            EXPECT_EQ(difference(snapshot(folder), after), "") << what << ", then run again";
        }
    }
}

}  // namespace

// A target another program holds for a moment (a virus scanner, an indexer) is waited for, 10 s at
// the most, with the window's messages handled meanwhile; held longer, the run fails before any move.
TEST_F(UpdateRunTest, TargetsHeldByOtherProgramsAreWaitedFor) {
    const uint32_t forever = UINT32_MAX;
    const struct {
        const char* what;
        FaultOperation operation;
        uint32_t nth, times;
        FaultEffect effect;
        uint32_t abortAtPump;
        UpdateResult expected;
    } cases[] = {
        {"held for three tries before the moves", FaultOperation::Probe, 2, 3, FaultEffect::Held, 0, Ok},
        {"access denied to a writable target twice", FaultOperation::Probe, 1, 2, FaultEffect::Denied, 0, Ok},
        {"held from the second move on, for two tries", FaultOperation::Move, 2, 2, FaultEffect::Held, 0, Ok},
        {"an abort confirmed while the run waits", FaultOperation::Probe, 1, forever, FaultEffect::Held, 15, Aborted},
        {"an abort confirmed while a move waits: it is not stopped", FaultOperation::Move, 2, 3, FaultEffect::Held, 15,
         Ok},
        {"held throughout", FaultOperation::Probe, 3, forever, FaultEffect::Held, 0, FileWriteFailed},
    };
    for (const auto& test : cases) {
        restore(folder, before);
        script = ScriptedHost{};
        script.abortAtPump = test.abortAtPump;
        injectFault(test.operation, test.nth, test.effect, test.times);
        UpdateRunReport report;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(run(&report), test.expected) << test.what << " " << failure(report) << " " << report.systemError;
        const auto waited = std::chrono::steady_clock::now() - start;
        clearFaults();
        EXPECT_EQ(difference(snapshot(folder), test.expected == Ok ? after : before), "") << test.what;
        EXPECT_GT(script.pumps, 13u) << test.what << ": messages are handled while the run waits";
        if (test.expected == FileWriteFailed) {
            EXPECT_EQ(failure(report), "move:b.arc") << test.what;
            EXPECT_EQ(report.systemError, refusalCode(Refusal::Held)) << test.what;
            EXPECT_GE(waited, std::chrono::milliseconds(holdWaitLimit)) << test.what;
            EXPECT_LT(waited, std::chrono::milliseconds(holdWaitLimit + 3000)) << test.what;
        }
    }
}
