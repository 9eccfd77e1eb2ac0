// The update run against patch files in a temporary install folder, on both platforms.
#include "engine/update_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>
#include <stdexcept>

#include "engine/check_value.h"
#include "engine/platform/fault_injection.h"
#include "formats/payload_archive_writer.h"
#include "formats/version_list_writer.h"
#include "tests/support/scripted_host.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Snapshot = std::map<std::string, Bytes>;  // relative path ("/" separated) -> contents

// "をインストール中" in code page 932.
const std::string labelSuffix = "\x82\xF0\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x8B\x92\x86";

Bytes randomBytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator());
    return bytes;
}

Bytes textBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::array<uint8_t, 8> checkValueOf(const Bytes& bytes) {
    CheckValue value;
    value.reset();
    value.update(bytes.data(), static_cast<uint32_t>(bytes.size()));
    std::array<uint8_t, 8> stored{};
    std::copy(value.bytes(), value.bytes() + 8, stored.begin());
    return stored;
}

class UpdateRunTest : public ::testing::Test {
protected:
    TempFolder temp;
    std::string folder = temp.file("game");
    std::string patch = temp.file("setup.exe");
    ScriptedHost script;

    void SetUp() override {
        fs::create_directory(folder);
        clearFaults();
    }
    void TearDown() override { clearFaults(); }

    std::string installed(const std::string& name) const { return (fs::path(folder) / name).string(); }

    void writePatch(const std::vector<PayloadEntrySource>& entries) {
        writeFileBytes(patch, *makePatchImage(Bytes(512, 0x4D), *makePayloadArchive(entries)));
    }

    UpdateResult run(UpdateRunReport* report = nullptr) {
        const RunHost host = script.host();
        return runUpdateFromPatch(patch.c_str(), folder.c_str(), host, report);
    }

    Snapshot snapshot() const {
        Snapshot files;
        for (const auto& item : fs::recursive_directory_iterator(folder)) {
            if (!item.is_regular_file()) continue;
            files[fs::relative(item.path(), folder).generic_string()] = readFileBytes(item.path().string());
        }
        return files;
    }

    void restore(const Snapshot& files) {
        fs::remove_all(folder);
        fs::create_directory(folder);
        for (const auto& [name, bytes] : files) {
            const fs::path path = fs::path(folder) / name;
            fs::create_directories(path.parent_path());
            writeFileBytes(path.string(), bytes);
        }
    }

    static bool hasStagingFile(const Snapshot& files) {
        for (const auto& item : files) {
            if (item.first.size() >= 4 && item.first.compare(item.first.size() - 4, 4, ".tmp") == 0) return true;
        }
        return false;
    }
};

// The shape of the carried payload: five data archives, the version list and the engine, with 15
// records of which six belong to carried entries and none to the list itself.
struct TypicalPayload {
    std::vector<PayloadEntrySource> entries;
    Snapshot oldFolder;   // the install folder before the update
    Snapshot newFolder;   // the install folder after a complete run
};

TypicalPayload typicalPayload() {
    TypicalPayload payload;
    const char* carried[] = {"data1.arc", "data2.arc", "voice.arc", "bgm.arc", "se.arc"};
    std::vector<VersionRecordSource> records;
    uint32_t seed = 1;
    for (const char* name : carried) {
        payload.entries.push_back({name, randomBytes(1000 + seed * 37, seed)});
        ++seed;
    }
    const Bytes engine = randomBytes(3000, 99);
    for (const auto& entry : payload.entries) records.push_back({entry.name, checkValueOf(entry.bytes)});
    // Files the payload does not carry: three of them are installed, five are not.
    const char* others[] = {"movie.arc", "extra1.arc", "extra2.arc", "extra3.arc",
                            "extra4.arc", "extra5.arc", "extra6.arc", "extra7.arc"};
    for (const char* name : others) records.push_back({name, checkValueOf(textBytes(name))});
    records.push_back({"TLX.exe", checkValueOf(engine)});
    records.push_back({"Config.exe", {}});
    const Bytes list = *makeVersionList(records);
    payload.entries.push_back({"TLX.hvl", list});
    payload.entries.push_back({"TLX.exe", engine});

    Snapshot& old = payload.oldFolder;
    for (const char* name : carried) old[name] = textBytes(std::string("old ") + name);
    old["TLX.exe"] = textBytes("old engine");
    old["TLX.hvl"] = textBytes("old list");
    old["movie.arc"] = textBytes("movie");
    old["extra1.arc"] = textBytes("extra1");
    old["extra2.arc"] = textBytes("extra2");
    old["Config.exe"] = textBytes("config");
    old["uninst.lst"] = textBytes("TLX.exe\r\n$Folder\r\nData1.arc\r\nsave\\slot1.dat\r\n");

    Snapshot& fresh = payload.newFolder = old;
    for (const auto& entry : payload.entries) fresh[entry.name] = entry.bytes;
    std::vector<VersionRecordSource> kept;
    for (const auto& record : records) {
        if (fresh.count(record.name) != 0) kept.push_back(record);
    }
    fresh["TLX.hvl"] = *makeVersionList(kept);
    fresh["uninst.lst"] = textBytes(std::string("tlx.exe\ndata1.arc\nsave\\slot1.dat\ndata2.arc\nvoice.arc\n") +
                                    "bgm.arc\nse.arc\ntlx.hvl\n$folder\n" + std::string(1, '\0'));
    return payload;
}

const Bytes& entryBytes(const TypicalPayload& payload, const std::string& name) {
    for (const auto& entry : payload.entries) {
        if (entry.name == name) return entry.bytes;
    }
    throw std::runtime_error("no entry " + name);
}

// The names whose contents differ between two snapshots, for readable failures.
std::vector<std::string> installedNames(const UpdateRunReport& report) {
    return {report.installed, report.installed + report.installedCount};
}

std::string differences(const Snapshot& actual, const Snapshot& expected) {
    std::string names;
    for (const auto& [name, bytes] : actual) {
        const auto other = expected.find(name);
        if (other == expected.end()) names += " +" + name;
        else if (other->second != bytes) names += " ~" + name;
    }
    for (const auto& item : expected) {
        if (actual.count(item.first) == 0) names += " -" + item.first;
    }
    return names.empty() ? "equal" : "differ:" + names;
}

TEST_F(UpdateRunTest, TypicalRunInstallsVerifiesPrunesAndMerges) {
    const TypicalPayload payload = typicalPayload();
    restore(payload.oldFolder);
    writePatch(payload.entries);
    UpdateRunReport report;
    ASSERT_EQ(run(&report), Ok);
    EXPECT_EQ(differences(snapshot(), payload.newFolder), "equal");
    const std::vector<std::string> names = {"data1.arc", "data2.arc", "voice.arc", "bgm.arc",
                                            "se.arc",    "TLX.hvl",   "TLX.exe"};
    EXPECT_EQ(installedNames(report), names);

    std::vector<std::string> expected = {"range file 0 65535", "position file 0", "range overall 0 7",
                                         "position overall 0", "pump 1"};
    uint32_t pump = 1;
    for (size_t i = 0; i < names.size(); ++i) {
        expected.push_back("text label " + names[i] + labelSuffix);
        expected.push_back("position file 0");
        expected.push_back("pump " + std::to_string(++pump));
        expected.push_back("position file 65535");
        expected.push_back("pump " + std::to_string(++pump));
        expected.push_back("position overall " + std::to_string(i + 1));
        expected.push_back("pump " + std::to_string(++pump));
    }
    EXPECT_EQ(script.calls, expected);
}

TEST_F(UpdateRunTest, NullDialogGivesTheSameOutcomeWithoutDisplayCalls) {
    const TypicalPayload payload = typicalPayload();
    restore(payload.oldFolder);
    writePatch(payload.entries);
    script.withControls = false;
    ASSERT_EQ(run(), Ok);
    EXPECT_EQ(differences(snapshot(), payload.newFolder), "equal");
    EXPECT_EQ(script.calls.size(), script.callsStartingWith("pump").size());
    EXPECT_EQ(script.pumps, 22u);
}

TEST_F(UpdateRunTest, EntryCountLimits) {
    writeFileText(installed("uninst.lst"), "keep\n");
    std::vector<PayloadEntrySource> entries;
    for (int i = 0; i < 32; ++i) entries.push_back({"f" + std::to_string(i) + ".dat", randomBytes(i, i)});
    writePatch(entries);
    ASSERT_EQ(run(), Ok);
    EXPECT_EQ(readFileBytes(installed("f31.dat")), entries[31].bytes);

    const Snapshot before = snapshot();
    entries.push_back({"f32.dat", {}});
    writePatch(entries);
    script = ScriptedHost{};
    EXPECT_EQ(run(), TooManyEntries);
    EXPECT_EQ(differences(snapshot(), before), "equal");
    EXPECT_TRUE(script.calls.empty()) << "nothing is displayed before the archive is open";
}

TEST_F(UpdateRunTest, DamagedExecutableEndsBeforeAnythingIsTouched) {
    writeFileText(installed("uninst.lst"), "keep\n");
    const Snapshot before = snapshot();
    writeFileBytes(patch, Bytes(0x60000, 0));
    EXPECT_EQ(run(), PayloadDamaged);
    fs::remove(patch);
    EXPECT_EQ(run(), PayloadDamaged);
    EXPECT_EQ(differences(snapshot(), before), "equal");
    EXPECT_TRUE(script.calls.empty());
}

TEST_F(UpdateRunTest, EmptyArchiveStillPrunesAndMerges) {
    writeFileBytes(installed("TLX.hvl"), *makeVersionList({{"gone.arc", {}}}));
    writePatch({});
    EXPECT_EQ(run(), UninstallListFailed) << "no uninst.lst to merge into";
    EXPECT_EQ(readFileBytes(installed("TLX.hvl")), *makeVersionList({})) << "pruned all the same";
    writeFileText(installed("uninst.lst"), "Keep\n");
    EXPECT_EQ(run(), Ok);
    EXPECT_EQ(readFileBytes(installed("uninst.lst")), textBytes(std::string("keep\n") + '\0'));
}

TEST_F(UpdateRunTest, PayloadWithoutAUsableVersionListIsInstalledUnverified) {
    for (const Bytes& list : {Bytes{}, textBytes("QTS_V3__ not a version list")}) {
        writeFileText(installed("uninst.lst"), "x\n");
        std::vector<PayloadEntrySource> entries = {{"a.arc", textBytes("new a")}};
        if (!list.empty()) entries.push_back({"tlx.HVL", list});
        writePatch(entries);
        EXPECT_EQ(run(), Ok);
        EXPECT_EQ(readFileBytes(installed("a.arc")), textBytes("new a"));
    }
}

TEST_F(UpdateRunTest, CheckValueMismatchStopsBeforeAnyTargetChanges) {
    for (uint32_t bad = 0; bad < 3; ++bad) {
        const std::vector<std::string> names = {"a.arc", "b.arc", "c.arc"};
        std::vector<PayloadEntrySource> entries;
        std::vector<VersionRecordSource> records;
        for (uint32_t i = 0; i < 3; ++i) {
            entries.push_back({names[i], randomBytes(100, i)});
            auto value = checkValueOf(entries.back().bytes);
            if (i == bad) value[7] ^= 1;
            records.push_back({names[i], value});
        }
        entries.push_back({"TLX.hvl", *makeVersionList(records)});
        restore({{"a.arc", textBytes("old a")}, {"c.arc", textBytes("old c")}, {"uninst.lst", textBytes("x\n")}});
        const Snapshot before = snapshot();
        writePatch(entries);
        script = ScriptedHost{};
        EXPECT_EQ(run(), PayloadDamaged) << bad;
        EXPECT_EQ(differences(snapshot(), before), "equal") << bad;
        EXPECT_EQ(script.callsStartingWith("text label").size(), bad + 1) << "entries 0.." << bad << " were staged";
    }
}

TEST_F(UpdateRunTest, StopRequestsBeforeTheCommitLeaveTheFolderAsItWas) {
    const TypicalPayload payload = typicalPayload();
    writePatch(payload.entries);
    const struct {
        const char* what;
        uint32_t quitAt, abortAt, cancelAt;
        UpdateResult expected;
        size_t labels;  // entries announced before the stop
    } cases[] = {
        {"pump returns 1 after the bars are set up", 1, 0, 0, Cancelled, 0},
        {"pump returns 1 before the third entry's copy", 8, 0, 0, Cancelled, 3},
        {"abort during the first chunk", 0, 3, 0, Aborted, 1},
        {"abort after the last entry was verified", 0, 22, 0, Aborted, 7},
        {"window closed after the last entry was verified", 0, 0, 22, Cancelled, 7},
        {"both flags", 0, 5, 5, Aborted, 2},
    };
    for (const auto& test : cases) {
        restore(payload.oldFolder);
        script = ScriptedHost{};
        script.quitAtPump = test.quitAt;
        script.abortAtPump = test.abortAt;
        script.cancelAtPump = test.cancelAt;
        EXPECT_EQ(run(), test.expected) << test.what;
        EXPECT_EQ(differences(snapshot(), payload.oldFolder), "equal") << test.what;
        EXPECT_EQ(script.callsStartingWith("text label").size(), test.labels) << test.what;
    }
}

TEST_F(UpdateRunTest, ChunksOfOneMebibyteDriveTheFileBar) {
    const struct {
        uint32_t size;
        std::vector<std::string> positions;
    } cases[] = {
        {0, {"position file 0"}},
        {2u << 20, {"position file 0", "position file 32767", "position file 65535"}},
        {(1u << 20) + 1, {"position file 0", "position file 65534", "position file 65535"}},
    };
    for (const auto& test : cases) {
        writeFileText(installed("uninst.lst"), "x\n");
        const Bytes data = randomBytes(test.size, test.size);
        writePatch({{"big.arc", data}, {"TLX.hvl", *makeVersionList({{"big.arc", checkValueOf(data)}})}});
        script = ScriptedHost{};
        script.withControls = true;
        resetFaultCounters();
        ASSERT_EQ(run(), Ok) << test.size;
        EXPECT_EQ(readFileBytes(installed("big.arc")), data);
        std::vector<std::string> positions = script.callsStartingWith("position file");
        positions.erase(positions.begin());  // the set-up position
        positions.resize(test.positions.size());
        EXPECT_EQ(positions, test.positions) << test.size;
    }
}

TEST_F(UpdateRunTest, RecordWithAFolderPartDecidesWhereTheEntryGoes) {
    const Bytes data = textBytes("new data");
    writePatch({{"data.arc", data}, {"TLX.hvl", *makeVersionList({{"Sub\\Data.arc", checkValueOf(data)}})}});
    writeFileText(installed("uninst.lst"), "x\n");
    const Snapshot before = snapshot();
    EXPECT_EQ(run(), FileWriteFailed) << "the run creates no folders";
    EXPECT_EQ(differences(snapshot(), before), "equal");

    fs::create_directory(installed("Sub"));
    script = ScriptedHost{};
    EXPECT_EQ(run(), Ok);
    EXPECT_EQ(readFileBytes(installed("Sub/Data.arc")), data);
    EXPECT_FALSE(fileExists(installed("data.arc")));
    EXPECT_EQ(script.callsStartingWith("text label"),
              (std::vector<std::string>{"text label Sub\\Data.arc" + labelSuffix, "text label TLX.hvl" + labelSuffix}));
    EXPECT_EQ(readFileBytes(installed("uninst.lst")), textBytes(std::string("x\nsub\\data.arc\ntlx.hvl\n") + '\0'));
}

TEST_F(UpdateRunTest, ReadOnlyLeftoverStagingFileAndTargetAreReplaced) {
    writeFileText(installed("uninst.lst"), "x\n");
    writeFileText(installed("a.arc"), "old");
    writeFileText(installed("a.arc.tmp"), "left by an earlier run");
    for (const char* name : {"a.arc", "a.arc.tmp"}) {
        fs::permissions(installed(name), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    writePatch({{"a.arc", textBytes("new")}});
    EXPECT_EQ(run(), Ok);
    EXPECT_EQ(readFileBytes(installed("a.arc")), textBytes("new"));
    EXPECT_FALSE(fileExists(installed("a.arc.tmp")));
}

// Damaged payloads that would write outside the folder, stage two entries into one file, or need
// paths longer than the run's buffers are refused before the commit.
TEST_F(UpdateRunTest, DamagedPayloadsAreRefusedBeforeTheCommit) {
    const std::string longName(240, 'n');
    const struct {
        const char* what;
        std::vector<PayloadEntrySource> entries;
        UpdateResult expected;
    } cases[] = {
        {"entry name climbing out", {{"a.arc", textBytes("a")}, {"..\\evil.arc", textBytes("e")}}, PayloadDamaged},
        {"record name climbing out",
         {{"evil.arc", textBytes("e")}, {"TLX.hvl", *makeVersionList({{"..\\evil.arc", checkValueOf(textBytes("e"))}})}},
         PayloadDamaged},
        {"absolute entry name", {{"\\evil.arc", textBytes("e")}}, PayloadDamaged},
        {"entry name with a drive", {{"C:evil.arc", textBytes("e")}}, PayloadDamaged},
        {"empty entry name", {{"", textBytes("e")}}, PayloadDamaged},
        {"two entries, one target", {{"a.arc", textBytes("1")}, {"A.ARC", textBytes("2")}}, PayloadDamaged},
        // One entry's staging file would be the other's target: the commit or the clean-up would
        // overwrite or delete an installed file after it was counted.
        {"entry named after a staging file", {{"a.arc", textBytes("1")}, {"a.arc.tmp", textBytes("2")}}, PayloadDamaged},
        {"staging file named after an entry", {{"A.ARC.TMP", textBytes("2")}, {"a.arc", textBytes("1")}}, PayloadDamaged},
        // The pruning and the merge write these beside their lists after the commit.
        {"entry named like the merge's temporary file", {{"uninst.lst.new", textBytes("n")}}, PayloadDamaged},
        {"entry named like the pruning's temporary file", {{"TLX.HVL.PRUNE~", textBytes("p")}}, PayloadDamaged},
        {"entry name ending in half a character", {{"b.arc\x95", textBytes("h")}}, PayloadDamaged},
        {"path too long", {{"a.arc", textBytes("a")}, {longName.substr(0, 90), textBytes("x")}}, FileWriteFailed},
    };
    // A folder of 200 bytes: a 90-byte name no longer fits into 260 bytes with it.
    ASSERT_LT(folder.size(), 190u);
    const std::string deep = folder + "/" + std::string(199 - folder.size(), 'd');
    for (const auto& test : cases) {
        const bool tooLong = test.expected == FileWriteFailed;
        const std::string target = tooLong ? deep : folder;
        fs::create_directories(target);
        writeFileText((fs::path(target) / "uninst.lst").string(), "x\n");
        writeFileText((fs::path(target) / "a.arc").string(), "old");
        const Snapshot before = snapshot();
        writePatch(test.entries);
        script = ScriptedHost{};
        const RunHost host = script.host();
        EXPECT_EQ(runUpdateFromPatch(patch.c_str(), target.c_str(), host), test.expected) << test.what;
        EXPECT_EQ(differences(snapshot(), before), "equal") << test.what;
        EXPECT_FALSE(fileExists(temp.file("evil.arc"))) << test.what;
    }
}

TEST_F(UpdateRunTest, EntryWhosePositionWrapsIsDamaged) {
    writeFileText(installed("uninst.lst"), "x\n");
    Bytes archive = *makePayloadArchive({{"a.arc", textBytes("aaaa")}, {"b.arc", textBytes("bb")}});
    // Entry b's offset makes data base + offset wrap round to the start of the file.
    const uint32_t wrapping = 0u - (0x60010u + 2 * 128);
    for (int i = 0; i < 4; ++i) archive[16 + 128 + 96 + i] = static_cast<uint8_t>(wrapping >> (8 * i));
    writeFileBytes(patch, *makePatchImage(Bytes(512, 0x4D), archive));
    const Snapshot before = snapshot();
    EXPECT_EQ(run(), PayloadDamaged);
    EXPECT_EQ(differences(snapshot(), before), "equal");
}

// A move failure half-way through the commit leaves the state the run promises, and running the
// same patch again completes the update exactly.
TEST_F(UpdateRunTest, MoveFailureAtEntryKThenARerunCompletesTheUpdate) {
    const TypicalPayload payload = typicalPayload();
    writePatch(payload.entries);
    for (uint32_t k = 0; k < 7; ++k) {
        restore(payload.oldFolder);
        injectFault(FaultOperation::Move, k + 1, FaultEffect::Fail);
        script = ScriptedHost{};
        EXPECT_EQ(run(), FileWriteFailed) << k;
        clearFaults();
        Snapshot expected = payload.oldFolder;
        for (uint32_t i = 0; i < k; ++i) expected[payload.entries[i].name] = payload.entries[i].bytes;
        EXPECT_EQ(differences(snapshot(), expected), "equal") << "targets before " << k << " new, the rest old, nothing pruned or merged";

        script = ScriptedHost{};
        EXPECT_EQ(run(), Ok) << k;
        EXPECT_EQ(differences(snapshot(), payload.newFolder), "equal") << k;
    }
}

// Every open, read, write, seek and move of a typical run, made to fail or come back short in
// turn: the folder is left in a state the result allows, without staging files, and a rerun
// without the fault leaves exactly what an uninterrupted run leaves.
TEST_F(UpdateRunTest, EveryInjectedFaultLeavesAStateTheResultAllowsAndARerunRecovers) {
    const TypicalPayload payload = typicalPayload();
    writePatch(payload.entries);
    restore(payload.oldFolder);
    resetFaultCounters();
    ASSERT_EQ(run(), Ok);
    uint32_t operations[static_cast<int>(FaultOperation::Count)];
    for (int kind = 0; kind < static_cast<int>(FaultOperation::Count); ++kind) {
        operations[kind] = faultOperationCount(static_cast<FaultOperation>(kind));
    }
    ASSERT_GE(operations[static_cast<int>(FaultOperation::Move)], 7u);

    int trials = 0;
    for (int kind = 0; kind < static_cast<int>(FaultOperation::Count); ++kind) {
        for (FaultEffect effect : {FaultEffect::Fail, FaultEffect::Short}) {
            for (uint32_t nth = 1; nth <= operations[kind]; ++nth) {
                const std::string what = "operation " + std::to_string(kind) + " #" + std::to_string(nth) +
                                         (effect == FaultEffect::Fail ? " fails" : " is short");
                restore(payload.oldFolder);
                injectFault(static_cast<FaultOperation>(kind), nth, effect);
                script = ScriptedHost{};
                UpdateRunReport report;
                const UpdateResult result = run(&report);
                clearFaults();
                const Snapshot after = snapshot();
                EXPECT_FALSE(hasStagingFile(after)) << what;

                Snapshot allowed = payload.oldFolder;  // nothing moved
                for (const std::string& name : installedNames(report)) allowed[name] = entryBytes(payload, name);
                if (result == Ok || result == UninstallListFailed) {
                    EXPECT_EQ(report.installedCount, 7u) << what;
                    allowed["TLX.hvl"] = after.at("TLX.hvl");  // pruned, or left as moved when pruning failed
                    EXPECT_TRUE(after.at("TLX.hvl") == payload.newFolder.at("TLX.hvl") ||
                                after.at("TLX.hvl") == payload.entries[5].bytes)
                        << what;
                    if (result == Ok) allowed["uninst.lst"] = payload.newFolder.at("uninst.lst");
                } else {
                    EXPECT_TRUE(result == PayloadDamaged || result == FileWriteFailed) << what << ": " << result;
                }
                EXPECT_EQ(differences(after, allowed), "equal") << what;

                script = ScriptedHost{};
                EXPECT_EQ(run(), Ok) << what;
                EXPECT_EQ(differences(snapshot(), payload.newFolder), "equal") << what << ", then run again";
                ++trials;
            }
        }
    }
    EXPECT_GT(trials, 60);
}

}  // namespace
