// A whole update run on a fuzzed patch against a small install folder beside another folder.
// Input: a fault byte (see injectFaultOf), a host byte (bits 0-3: the pump call at which the host
// acts, 0 never; bits 4-5: 0 it reports the quit message, 1 sets the abort flag, 2 the cancel flag,
// 3 both; bit 6: no dialog controls), a folder byte (bit 0: no uninst.lst, bit 1: no TLX.hvl, bit 2:
// a.arc read-only), then the patch from 0x60000 on. Properties, read off the run's report and the
// folders: a stop flag decides the result, abort over cancel, and the report names the step of
// every other failure; Ok and UninstallListFailed install every entry, FileWriteFailed the first
// few, other results none; each installed target holds its entry's bytes, and nothing else changes
// (no temporary file is left) but TLX.hvl and, for Ok, uninst.lst.
#include <sys/stat.h>

#include <cstring>

#include "engine/file_handle.h"
#include "engine/platform/posix/native_path.h"
#include "engine/update_run.h"
#include "engine/version_list.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/scripted_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{std::string(reinterpret_cast<const char*>(data), size)};
    const uint8_t fault = in.byte(), hostByte = in.byte(), variant = in.byte();
    const std::string tail = in.rest(), root = freshFolder("run"), folder = root + "/folder";
    const std::string patch = freshFolder("patch") + "/setup.exe";
    writeFile(patch, bytesOf(tail), payloadOffset);
    for (const char* name : {"outside/secret.txt", "folder/a.arc", "folder/b.arc", "folder/sub/c.arc", "folder/x.txt"})
        writeFile(root + "/" + name, bytesOf(name));
    if (!(variant & 1)) writeFile(folder + "/uninst.lst", bytesOf("a.arc\r\nB.ARC\r\n$dir\r\n  sub\\c.arc\r\n"));
    std::string list("QTS_V2__\0\0\0\0\4\0\0\0", 16);  // four records with zero check values
    for (const std::string name : {"a.arc", "b.arc", "sub\\c.arc", "gone.arc"})
        list += name + std::string(256 - name.size(), '\0');
    if (!(variant & 2)) writeFile(folder + "/TLX.hvl", bytesOf(list));
    if (variant & 4) ::chmod((folder + "/a.arc").c_str(), 0444);
    const Snapshot before = snapshot(root);

    const uint32_t pump = hostByte & 15, action = hostByte >> 4 & 3;
    ScriptedHost host{.withControls = !(hostByte & 64),
                      .quitAtPump = action == 0 ? pump : 0,
                      .abortAtPump = action & 1 ? pump : 0,
                      .cancelAtPump = action & 2 ? pump : 0};
    injectFaultOf(fault);
    UpdateRunReport report;
    const UpdateResult result = runUpdateFromPatch(patch.c_str(), folder.c_str(), host.host(), &report);
    clearFaults();
    Snapshot after = snapshot(root);

    FUZZ_CHECK(!host.abortFlag || result == Aborted, "the abort flag decides the result");
    FUZZ_CHECK(host.abortFlag || !host.cancelFlag || result == Cancelled, "the cancel flag decides the result");
    const bool pruning =
        report.failedStep == RunStep::Prune || std::strcmp(report.failedName, versionListPruneName) == 0;
    FUZZ_CHECK(result == Aborted || result == Cancelled || result == Ok || report.failedStep != RunStep::None,
               "the report tells a failure");
    FUZZ_CHECK(result != Ok || report.failedStep == RunStep::None || pruning,
               "an Ok run records only a failed pruning");
    const bool complete = result == Ok || result == UninstallListFailed;
    FileHandle file;
    PayloadArchive archive;
    const bool opened = file.openRead(patch.c_str()) && archive.open(file) == Ok;
    FUZZ_CHECK(report.installedCount == (complete ? archive.entryCount() : 0) ||
                   (result == FileWriteFailed && opened && report.installedCount < archive.entryCount()),
               "a complete run installs every entry, a failed write a part, any other result none");

    // Each installed target holds its entry's bytes, except the lists a complete run rewrites after
    // installing them; with those put back as before, the folder must be as it was.
    for (uint32_t i = 0; i < report.installedCount; ++i) {
        const std::string key = "folder/" + toNativePath(report.installed[i]);
        const uint64_t position = archive.dataPosition(i) - uint64_t{payloadOffset}, length = archive.entry(i).size;
        FUZZ_CHECK(length == 0 || position + length <= tail.size(), "an installed entry lies in the patch");
        const bool rewritten = complete && (key == "folder/TLX.hvl" || key == "folder/uninst.lst");
        FUZZ_CHECK(rewritten || after[key] == bytesOf(length == 0 ? "" : tail.substr(position, length)), "its bytes");
        before.count(key) != 0 ? void(after[key] = before.at(key)) : void(after.erase(key));
    }
    for (const std::string key : {"folder/TLX.hvl", "folder/uninst.lst"}) {
        const bool rewritten = key == "folder/TLX.hvl" ? complete : result == Ok;
        if (rewritten && before.count(key) != 0) after[key] = before.at(key);
    }
    FUZZ_CHECK(after == before, "nothing else changes, and no staging or temporary file survives");
    return 0;
}
