// A whole update run (runUpdateFromPatch) on a fuzzed patch against a small install folder.
//
// Input: a control byte (bits 0-2: the kind of file operation to disturb, 0 open, 1 read,
// 2 write, 3 seek, 4 move, anything else none; bit 3: short instead of failed), a byte choosing
// which of those operations (1-40), a host byte (bits 0-3: the pump call at which the host acts,
// 0 never; bits 4-5: what it does there, 0 report the quit message, 1 set the abort flag, 2 set the
// cancel flag, 3 set both; bit 6: no dialog controls), a folder byte (bit 0: no uninst.lst; bit 1:
// no installed TLX.hvl; bit 2: a.arc read-only; bit 3: an empty uninst.lst), then the payload
// bytes from 0x60000 on. The install folder sits beside another folder.
//
// Properties:
// - nothing outside the install folder changes;
// - the stop flags decide the result when set (abort over cancel);
// - the run installs its entries in index order under the reference target names (the name of
//   the first matching version record, else the entry's own), each target holding exactly its
//   entry's bytes, and a verified entry's bytes match its record's check value;
// - how far it got matches the result: nothing changed for PayloadDamaged, TooManyEntries,
//   Aborted and Cancelled; a prefix of the targets replaced for FileWriteFailed, with TLX.hvl and
//   uninst.lst untouched otherwise; every target replaced for Ok and UninstallListFailed, TLX.hvl
//   pruned, and uninst.lst merged (Ok) or untouched (UninstallListFailed);
// - apart from that the folder is byte for byte as before: no staging or temporary file survives;
// - a failed open displays nothing, a run without controls only pumps, and a run that staged
//   everything moved the overall bar through every entry, each one's file bar full first;
// - with no disturbed operation and no stop, a well-formed patch (readable entries, plain distinct
//   names, matching check values) ends with Ok, or UninstallListFailed when there is no list to
//   merge into, and a damaged open ends with the reference's code.
#include <sys/stat.h>

#include <cstring>

#include "engine/check_value.h"
#include "engine/platform/fault_injection.h"
#include "engine/platform/posix/native_path.h"
#include "engine/update_run.h"
#include "formats/version_list_writer.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference.h"
#include "tests/support/scripted_host.h"

namespace {

constexpr char folderName[] = "folder";

std::string inFolder(const std::string& name) { return std::string(folderName) + "/" + name; }

void fillFolder(const std::string& folder, uint8_t variant) {
    writeFile(folder + "/a.arc", "old a");
    writeFile(folder + "/b.arc", "old b");
    makeFolder(folder + "/sub");
    writeFile(folder + "/sub/c.arc", "old c");
    writeFile(folder + "/readme.txt", "keep");
    if (!(variant & 2)) {
        std::vector<VersionRecordSource> records = {{"a.arc", {}}, {"b.arc", {}}, {"sub\\c.arc", {}}, {"gone.arc", {}}};
        writeFile(folder + "/TLX.hvl", *makeVersionList(records));
    }
    if (!(variant & 1))
        writeFile(folder + "/uninst.lst", variant & 8 ? "" : "a.arc\r\nB.ARC\r\n$dir\r\n  sub\\c.arc\r\n");
    if (variant & 4) ::chmod((folder + "/a.arc").c_str(), 0444);
}

// A target name the run must be able to install on any system: plain components, "\" between
// them, at most one folder and that one "sub", not a folder itself, and no name the run or its
// helpers use for temporary files.
bool isPlainTarget(const std::string& name) {
    if (name.empty() || name.size() > 60) return false;
    std::vector<std::string> components(1);
    for (const char c : name) {
        if (c == '\\') {
            components.emplace_back();
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
                   c == '-') {
            components.back() += c;
        } else {
            return false;
        }
    }
    for (const std::string& component : components) {
        if (component.empty() || component == "." || component == "..") return false;
    }
    if (components.size() > 2 || (components.size() == 2 && components[0] != "sub")) return false;
    const std::string lowered = referenceLower(name);
    if (lowered == "sub" || lowered == "uninst.lst.new") return false;
    return lowered.size() < 4 || lowered.compare(lowered.size() - 4, 4, ".tmp") != 0;
}

struct Expectation {
    std::vector<std::string> targets;
    std::vector<std::optional<Bytes>> bytes;
    std::vector<std::optional<std::array<uint8_t, 8>>> checkValues;
    bool wellFormed = true;  // the run must succeed on it
};

// The run's targets with the payload's version list, or as if it could not be read.
Expectation expect(const PatchImage& image, const ReferenceArchive& archive, bool withList) {
    Expectation expectation;
    std::vector<ReferenceRecord> records;
    for (uint32_t i = 0; i < archive.entries.size() && withList; ++i) {
        if (referenceLower(archive.entries[i].name) == "tlx.hvl") {
            records = referenceLoadVersionList(image, archive, i);
            break;
        }
    }
    std::vector<std::string> lowered;
    for (uint32_t i = 0; i < archive.entries.size(); ++i) {
        const std::optional<size_t> record = referenceFindRecord(records, referenceLower(archive.entries[i].name));
        const std::string& target = record ? records[*record].name : archive.entries[i].name;
        expectation.targets.push_back(target);
        expectation.bytes.push_back(referenceEntryBytes(image, archive, i));
        expectation.checkValues.push_back(record ? std::optional(records[*record].checkValue) : std::nullopt);
        if (!expectation.bytes.back() || !isPlainTarget(target)) expectation.wellFormed = false;
        if (expectation.bytes.back() && record) {
            CheckValue value;
            value.reset();
            value.update(expectation.bytes.back()->data(), static_cast<uint32_t>(expectation.bytes.back()->size()));
            if (std::memcmp(value.bytes(), records[*record].checkValue.data(), 8) != 0) expectation.wellFormed = false;
        }
        for (const std::string& other : lowered) {
            if (other == referenceLower(target)) expectation.wellFormed = false;
        }
        lowered.push_back(referenceLower(target));
    }
    return expectation;
}

// Why the installed names and bytes do not fit the expectation; empty when they do.
std::string installedMismatch(const Expectation& expectation, const std::vector<std::string>& installed) {
    for (size_t i = 0; i < installed.size(); ++i) {
        if (installed[i] != expectation.targets[i]) {
            return "entry " + std::to_string(i) + " installed as " + printable(installed[i]) + ", expected " +
                   printable(expectation.targets[i]);
        }
        if (!expectation.bytes[i]) return "entry " + std::to_string(i) + " installed but not in the patch";
        if (expectation.checkValues[i]) {
            CheckValue value;
            value.reset();
            value.update(expectation.bytes[i]->data(), static_cast<uint32_t>(expectation.bytes[i]->size()));
            if (std::memcmp(value.bytes(), expectation.checkValues[i]->data(), 8) != 0) {
                return "entry " + std::to_string(i) + " installed although its check value differs";
            }
        }
    }
    return "";
}

// The progress shown by a run that staged every entry: the overall bar counts the entries in
// order up to the last, and the file bar of every entry with bytes reaches its end before the
// entry counts as done.
void checkProgress(const std::vector<std::string>& calls, const ReferenceArchive& archive) {
    uint32_t done = 0;
    bool fileBarFull = false;
    for (const std::string& call : calls) {
        if (call == "position file 65535") fileBarFull = true;
        if (call.rfind("position overall ", 0) != 0) continue;
        const uint32_t position = static_cast<uint32_t>(std::stoul(call.substr(17)));
        if (position == 0) continue;
        FUZZ_CHECK(position == done + 1, "overall bar moved to %u after %u entries", position, done);
        FUZZ_CHECK(fileBarFull || archive.entries[done].size == 0, "entry %u done before its file bar was full", done);
        done = position;
        fileBarFull = false;
    }
    FUZZ_CHECK(done == archive.entries.size(), "overall bar ended at %u of %zu", done, archive.entries.size());
}

bool isFolderPath(const std::string& path) { return path == folderName || path.rfind(inFolder(""), 0) == 0; }

Tree part(const Tree& tree, bool folder) {
    Tree selected;
    for (const auto& [path, node] : tree) {
        if (isFolderPath(path) == folder) selected.emplace(path, node);
    }
    return selected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input{data, size};
    const uint8_t control = input.byte();
    const uint32_t nth = 1 + input.byte() % 40;
    const uint8_t hostByte = input.byte();
    const uint8_t variant = input.byte();
    const PatchImage image = patchWithPayload(input.rest());
    const uint8_t operation = control & 7;
    const bool disturbed = operation < 5;

    const std::string root = scratchRoot() + "/run";
    const std::string folder = root + "/" + folderName;
    // The patch lies outside the tree that is compared: it is only ever opened for reading, and
    // reading its 0x60000 bytes for every comparison would slow the target down.
    const std::string patch = scratchRoot() + "/patch.bin";
    emptyFolder(root);
    makeFolder(root + "/outside");
    writeFile(root + "/outside/secret.txt", "outside");
    writePatch(patch, image);
    makeFolder(folder);
    fillFolder(folder, variant);
    const Tree before = snapshotTree(root);

    ScriptedHost host;
    host.withControls = !(hostByte & 64);
    const uint32_t pumpCall = hostByte & 15;
    const uint32_t action = (hostByte >> 4) & 3;
    if (action == 0) host.quitAtPump = pumpCall;
    if (action & 1) host.abortAtPump = pumpCall;
    if (action & 2) host.cancelAtPump = pumpCall;

    if (disturbed) {
        injectFault(static_cast<FaultOperation>(operation), nth, control & 8 ? FaultEffect::Short : FaultEffect::Fail);
    }
    UpdateRunReport report;
    const UpdateResult result = runUpdateFromPatch(patch.c_str(), folder.c_str(), host.host(), &report);
    clearFaults();
    const Tree after = snapshotTree(root);

    FUZZ_CHECK(part(before, false) == part(after, false), "the run changed something outside the folder:%s",
               describeDifference(part(before, false), part(after, false)).c_str());
    if (host.abortFlag) {
        FUZZ_CHECK(result == Aborted, "abort flag set, result 0x%08X", result);
    } else if (host.cancelFlag) {
        FUZZ_CHECK(result == Cancelled, "cancel flag set, result 0x%08X", result);
    }

    const ReferenceArchive archive = referenceOpenArchive(image);
    const bool stopped = host.abortFlag || host.cancelFlag;
    if (archive.result != Ok) {
        FUZZ_CHECK(disturbed || result == archive.result, "open: result 0x%08X, expected 0x%08X", result,
                   archive.result);
        FUZZ_CHECK(before == after, "a failed open changed the folder:%s", describeDifference(before, after).c_str());
        if (!disturbed) FUZZ_CHECK(host.calls.empty(), "a failed open displayed or pumped");
        return 0;
    }
    if (!host.withControls) {
        for (const std::string& call : host.calls) {
            FUZZ_CHECK(call.rfind("pump ", 0) == 0, "a run without controls displayed: %s", call.c_str());
        }
    }
    const size_t count = archive.entries.size();
    const std::vector<std::string> installed(report.installed, report.installed + report.installedCount);
    FUZZ_CHECK(installed.size() <= count, "%zu entries installed of %zu", installed.size(), count);
    // What got installed, and under which names. A disturbed read of the version list leaves the
    // run without one: it then installs every entry under its own name, unverified.
    const Expectation withList = expect(image, archive, true);
    std::string mismatch = installedMismatch(withList, installed);
    const Expectation* expectationPointer = &withList;
    const Expectation withoutList = expect(image, archive, false);
    if (!mismatch.empty() && disturbed && installedMismatch(withoutList, installed).empty()) {
        mismatch.clear();
        expectationPointer = &withoutList;
    }
    FUZZ_CHECK(mismatch.empty(), "%s", mismatch.c_str());
    const Expectation& expectation = *expectationPointer;
    const bool complete = result == Ok || result == UninstallListFailed;
    if (complete) {
        FUZZ_CHECK(installed.size() == count, "result 0x%08X with %zu of %zu entries installed", result,
                   installed.size(), count);
        if (host.withControls) checkProgress(host.calls, archive);
    } else if (result != FileWriteFailed) {
        FUZZ_CHECK(installed.empty(), "result 0x%08X with %zu entries installed", result, installed.size());
    }

    // The folder as it must be: the old one with the installed targets replaced, then the list
    // pruned and the names merged where the run got that far.
    Tree expected = part(before, true);
    for (size_t i = 0; i < installed.size(); ++i) {
        expected[inFolder(toNativePath(installed[i].c_str()))] = TreeNode{false, *expectation.bytes[i]};
    }
    const Tree now = part(after, true);
    if (complete) {
        const std::string listKey = inFolder("TLX.hvl");
        if (expected.count(listKey) != 0 && !expected[listKey].folder) {
            const std::optional<Bytes> pruned = referencePrune(expected[listKey].bytes, folder);
            const auto found = now.find(listKey);
            if (pruned && found != now.end() && found->second.bytes == *pruned) {
                expected[listKey].bytes = *pruned;
            } else {
                FUZZ_CHECK(disturbed || !pruned, "TLX.hvl was not pruned");
            }
        }
        const std::string uninstallKey = inFolder("uninst.lst");
        std::optional<Bytes> base;
        if (expected.count(uninstallKey) != 0 && !expected[uninstallKey].folder) base = expected[uninstallKey].bytes;
        const std::optional<Bytes> merged = referenceMerge(base, installed);
        if (result == Ok) {
            FUZZ_CHECK(merged.has_value(), "Ok although the uninstall list cannot be merged");
            expected[uninstallKey].bytes = *merged;
        } else {
            FUZZ_CHECK(disturbed || !merged, "UninstallListFailed although the list can be merged");
        }
    }
    FUZZ_CHECK(now == expected, "result 0x%08X with %zu of %zu entries installed, but the folder differs:%s", result,
               installed.size(), count, describeDifference(expected, now).c_str());

    if (!disturbed && !stopped && expectation.wellFormed) {
        FUZZ_CHECK(complete, "a well-formed patch ended with 0x%08X", result);
    }
    return 0;
}
