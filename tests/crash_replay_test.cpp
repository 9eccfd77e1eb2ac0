// A power cut at any moment of a run, replayed. Every change the run makes to the file system is
// recorded, and the install folder is rebuilt as a journaling file system would leave it after a crash
// right after each change of a name: names (created, renamed, removed, re-attributed) persist in the
// order they were made, but a file's bytes only as of its last flush; the bytes written after it are
// lost, either as zeros to the file's size (NTFS) or cut off (delayed allocation). Every such state must
// leave each target and list its old or its new bytes, and running the patch again must finish the
// update exactly as an uninterrupted run.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/platform/fault_injection.h"
#include "engine/update_run.h"
#include "formats/version_list_writer.h"
#include "tests/support/folder.h"
#include "tests/support/patch_file.h"
#include "tests/support/scripted_host.h"

namespace {

std::string lowered(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
    return name;
}

// The file system as the recorded changes leave it, and as a crash right after each change of a name
// would have left it.
struct Journal {
    struct File {
        Bytes bytes;     // every byte written, in order (the run only appends)
        size_t flushed;  // how many of them a flush has put on the disk
    };
    // At a crash: the files under each name, with their size and flushed length then.
    struct Moment {
        std::map<std::string, std::pair<std::string, size_t>> names;  // folded name -> shown name, file
        std::vector<std::pair<size_t, size_t>> files;                 // size, flushed
    };
    std::vector<File> files;
    std::map<std::string, std::pair<std::string, size_t>> names;
    std::map<intptr_t, std::string> folders;  // handle -> folder, relative to the install folder
    std::map<intptr_t, size_t> handles;       // handle -> file
    std::vector<Moment> moments;

    explicit Journal(const Snapshot& before) {
        for (const auto& [name, bytes] : before) {
            names[lowered(name)] = {name, files.size()};
            files.push_back({bytes, bytes.size()});
        }
    }
    std::string path(intptr_t folder, const char* name) const {
        const std::string& parent = folders.at(folder);
        return parent.empty() ? name : parent + "/" + name;
    }
    void rename(size_t file, const std::string& to) {
        std::erase_if(names, [&](const auto& entry) { return entry.second.second == file; });
        names[lowered(to)] = {to, file};
    }
    void record(const FileChangeRecord& change) {
        switch (change.change) {
            case FileChange::Folder:
                folders[change.file] = change.folder == -1 ? "" : path(change.folder, change.name);
                return;
            case FileChange::Create:
                handles[change.file] = files.size();
                files.push_back({});
                rename(files.size() - 1, path(change.folder, change.name));
                break;
            case FileChange::Write: {
                const auto* bytes = static_cast<const uint8_t*>(change.bytes);
                Bytes& written = files[handles.at(change.file)].bytes;
                written.insert(written.end(), bytes, bytes + change.count);
                return;
            }
            case FileChange::Flush:
                files[handles.at(change.file)].flushed = files[handles.at(change.file)].bytes.size();
                return;
            case FileChange::Rename:
                rename(handles.at(change.file), path(change.folder, change.name));
                break;
            case FileChange::Remove:
                names.erase(lowered(path(change.folder, change.name)));
                break;
            case FileChange::Attributes:
                break;
        }
        moments.push_back(current());
    }
    Moment current() const {
        Moment moment{names, {}};
        for (const File& file : files) moment.files.emplace_back(file.bytes.size(), file.flushed);
        return moment;
    }
    // The folder after a crash at `moment`: unflushed bytes zero-filled to the file's size, or cut off.
    Snapshot crashed(const Moment& moment, bool zeroFilled) const {
        Snapshot folder;
        for (const auto& [folded, named] : moment.names) {
            const auto [size, flushed] = moment.files[named.second];
            Bytes bytes(files[named.second].bytes.begin(), files[named.second].bytes.begin() + flushed);
            if (zeroFilled) bytes.resize(size, 0);
            folder[named.first] = bytes;
        }
        return folder;
    }
    // The folder with every byte written, as it is when nothing crashed.
    Snapshot now() const {
        Moment moment = current();
        for (auto& [size, flushed] : moment.files) flushed = size;
        return crashed(moment, false);
    }
};

void recordChange(const FileChangeRecord& change, void* journal) { static_cast<Journal*>(journal)->record(change); }

TEST(CrashReplayTest, APowerCutAtAnyMomentLeavesOldOrNewFilesAndARerunFinishes) {
    TempFolder temp;
    const std::string folder = temp.file("game"), patch = temp.file("setup.exe");
    Bytes a(runChunkSize + 5), b(3 * runChunkSize - 7);
    std::mt19937 random(3);
    for (Bytes* bytes : {&a, &b}) std::generate(bytes->begin(), bytes->end(), [&] { return random(); });
    const Bytes list = *makeVersionList({{"a.arc", checkValueOf(a)}, {"sub\\b.arc", checkValueOf(b)}, {"gone", {}}});
    writePatchFile(patch, {{"a.arc", a}, {"b.arc", b}, {"TLX.hvl", list}, {"c.dat", {}}});
    const Snapshot before{{"a.arc", bytesOf("old a")},
                          {"sub/b.arc", Bytes(2 * runChunkSize, 'b')},
                          {"TLX.hvl", bytesOf("old list")},
                          {"uninst.lst", bytesOf("A.arc\r\n$Folder\r\n")},
                          {"a.arc.tmp", bytesOf("left by an earlier run")}};
    const char* const lists[] = {"a.arc", "sub/b.arc", "c.dat", "TLX.hvl", "uninst.lst"};
    ScriptedHost script;
    script.withControls = false;
    const auto run = [&] { return runUpdateFromPatch(patch.c_str(), folder.c_str(), script.host()); };

    restore(folder, before);
    Journal journal(before);
    watchFileChanges(recordChange, &journal);
    ASSERT_EQ(run(), Ok);
    watchFileChanges(nullptr, nullptr);
    const Snapshot after = snapshot(folder);
    ASSERT_EQ(difference(journal.now(), after), "") << "the changes recorded are the changes made";

    uint32_t torn = 0, unrepaired = 0;
    for (const Journal::Moment& moment : journal.moments) {
        for (const bool zeroFilled : {true, false}) {
            const Snapshot crashed = journal.crashed(moment, zeroFilled);
            const auto whole = [&](const char* name) {
                const auto now = crashed.find(name), old = before.find(name);
                // The version list is new when installed and new again when pruned.
                return (now == crashed.end() && old == before.end()) ||
                       (now != crashed.end() &&
                        ((old != before.end() && now->second == old->second) || now->second == after.at(name) ||
                         (name == std::string("TLX.hvl") && now->second == list)));
            };
            if (!std::all_of(std::begin(lists), std::end(lists), whole)) ++torn;
            restore(folder, crashed);
            if (run() != Ok || !difference(snapshot(folder), after).empty()) ++unrepaired;
        }
    }
    EXPECT_GT(journal.moments.size(), 10u);
    EXPECT_EQ(torn, 0u) << "of " << 2 * journal.moments.size() << " crash states, these leave a file torn";
    EXPECT_EQ(unrepaired, 0u) << "of " << 2 * journal.moments.size() << " crash states, a rerun does not repair these";
}

}  // namespace
