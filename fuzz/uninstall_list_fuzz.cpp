// The uninstall list: parse, merge and write of arbitrary bytes with arbitrary names.
//
// Input: a control byte (bits 0-2: the kind of file operation to disturb during the whole merge,
// 0 open, 1 read, 2 write, 3 seek, 4 move, anything else none; bit 3: short instead of failed;
// bit 4: no uninst.lst), a byte choosing which of those operations (1-8), a little-endian u16
// length of the list's text, the text, then the names, separated by NUL bytes.
//
// Properties:
// - parseUninstallText and addUninstallNames build exactly the reference lists, and each list's
//   count, tail and duplicate index agree with its chain;
// - writeUninstallList writes exactly the plain lines, then the "$" lines, each with LF, and one
//   NUL, leaving no temporary file;
// - the written text parses back to the same lists, for every line that came from the text and
//   every name that a line can hold (not empty, no CR or LF, no leading blank, no leading "$");
// - mergeUninstallList on a folder holding the text as uninst.lst returns true exactly when the
//   reference merge succeeds and then writes the reference's bytes; under a disturbed operation it
//   either does that or returns false with the list unchanged; it never creates the list and never
//   leaves a temporary file.
#include <algorithm>
#include <cstring>

#include "engine/platform/fault_injection.h"
#include "engine/uninstall_list.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/reference.h"

namespace {

struct Lists {
    UninstallList plain{};
    UninstallList dollar{};
    ~Lists() {
        releaseUninstallList(plain);
        releaseUninstallList(dollar);
    }
};

std::vector<std::string> textsOf(const UninstallList& list) {
    std::vector<std::string> texts;
    const UninstallEntry* last = nullptr;
    for (const UninstallEntry* entry = list.head; entry != nullptr; entry = entry->next) {
        FUZZ_CHECK(std::strlen(entry->text) == entry->length, "an entry's length is wrong");
        texts.emplace_back(entry->text, entry->length);
        last = entry;
    }
    FUZZ_CHECK(list.tail == last, "the list's tail is not its last entry");
    FUZZ_CHECK(list.count == texts.size(), "the list counts %u entries, its chain has %zu", list.count, texts.size());
    return texts;
}

void checkLists(const Lists& lists, const ReferenceUninstall& expected, const char* stage) {
    const std::vector<std::string> plain = textsOf(lists.plain);
    const std::vector<std::string> dollar = textsOf(lists.dollar);
    FUZZ_CHECK(plain == expected.plain, "%s: plain list of %zu lines, expected %zu", stage, plain.size(),
               expected.plain.size());
    FUZZ_CHECK(dollar == expected.dollar, "%s: dollar list of %zu lines, expected %zu", stage, dollar.size(),
               expected.dollar.size());
}

// A name that a line of the list can hold: it comes back from the file as the same plain line.
bool lineCanHold(const std::string& lowered) {
    return !lowered.empty() && lowered[0] != ' ' && lowered[0] != '\t' && lowered[0] != '$' &&
           lowered.find_first_of("\r\n") == std::string::npos;
}

bool containsAll(const std::vector<std::string>& whole, const std::vector<std::string>& part) {
    for (const std::string& line : part) {
        if (std::find(whole.begin(), whole.end(), line) == whole.end()) return false;
    }
    return true;
}

std::vector<const char*> nameArray(const std::vector<std::string>& names) {
    std::vector<const char*> array;
    for (const std::string& name : names) array.push_back(name.c_str());
    array.push_back(nullptr);
    return array;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InputReader input{data, size};
    const uint8_t control = input.byte();
    const uint32_t nth = 1 + input.byte() % 8;
    const uint32_t textLength = input.byte() | static_cast<uint32_t>(input.byte()) << 8;
    const Bytes textBytes = input.take(textLength);
    std::vector<std::string> names;
    if (!input.atEnd()) {
        const Bytes rest = input.rest();
        std::string current;
        for (const uint8_t byte : rest) {
            if (byte == 0) {
                names.push_back(current);
                current.clear();
            } else {
                current += static_cast<char>(byte);
            }
        }
        names.push_back(current);
    }
    const std::string text(textBytes.begin(), textBytes.end());
    const std::vector<const char*> nameList = nameArray(names);

    // Parse and add, against the reference.
    Lists lists;
    ReferenceUninstall expected = referenceParseUninstall(text);
    FUZZ_CHECK(parseUninstallText(text.c_str(), lists.plain, lists.dollar), "parsing failed");
    checkLists(lists, expected, "parse");
    const ReferenceUninstall parsed = expected;
    referenceAddNames(expected, names);
    FUZZ_CHECK(addUninstallNames(nameList.data(), lists.plain), "adding names failed");
    checkLists(lists, expected, "add");

    // Write, against the reference.
    const std::string folder = scratchRoot() + "/folder";
    emptyFolder(folder);
    const std::string path = folder + "/written.lst";
    FUZZ_CHECK(writeUninstallList(path.c_str(), lists.plain, lists.dollar), "writing failed");
    const std::optional<Bytes> written = readFile(path);
    const Bytes expectedBytes = referenceWriteUninstall(expected);
    FUZZ_CHECK(written && *written == expectedBytes,
               "written list differs from the reference (%zu bytes, expected %zu)", written ? written->size() : 0,
               expectedBytes.size());
    FUZZ_CHECK(!readFile(path + ".new"), "writing left its temporary file");

    // The written text parses back to the same lists.
    Lists reread;
    FUZZ_CHECK(parseUninstallText(reinterpret_cast<const char*>(written->data()), reread.plain, reread.dollar),
               "parsing the written list failed");
    ReferenceUninstall representable = parsed;
    bool everyNameHeld = true;
    for (const std::string& name : names) {
        ReferenceUninstall alone;
        referenceAddNames(alone, {name});
        const std::string& lowered = alone.plain.front();
        if (lineCanHold(lowered)) {
            referenceAddNames(representable, {lowered});
        } else {
            everyNameHeld = false;
        }
    }
    const std::vector<std::string> rereadPlain = textsOf(reread.plain);
    const std::vector<std::string> rereadDollar = textsOf(reread.dollar);
    if (everyNameHeld) {
        FUZZ_CHECK(rereadPlain == representable.plain && rereadDollar == representable.dollar,
                   "the written list reads back differently: %zu+%zu lines, expected %zu+%zu", rereadPlain.size(),
                   rereadDollar.size(), representable.plain.size(), representable.dollar.size());
    } else {
        // A name that no line can hold comes back changed (and may take the place of a later line
        // that equals a part of it), but every other line comes back whole.
        FUZZ_CHECK(containsAll(rereadPlain, representable.plain) && containsAll(rereadDollar, representable.dollar),
                   "a written line did not read back");
    }

    // The whole merge on a folder.
    emptyFolder(folder);
    const std::string listPath = folder + "/uninst.lst";
    const bool withList = !(control & 16);
    if (withList) writeFile(listPath, textBytes);
    const std::optional<Bytes> original = withList ? std::optional<Bytes>(textBytes) : std::nullopt;
    const std::optional<Bytes> merged = referenceMerge(original, names);
    const uint8_t operation = control & 7;
    const bool disturbed = operation < 5;
    if (disturbed) {
        injectFault(static_cast<FaultOperation>(operation), nth, control & 8 ? FaultEffect::Short : FaultEffect::Fail);
    }
    const bool result = mergeUninstallList(folder.c_str(), nameList.data());
    clearFaults();
    const Tree after = snapshotTree(folder);
    FUZZ_CHECK(after.size() == (withList ? 1u : 0u), "the merge left %zu files in the folder", after.size());
    const std::optional<Bytes> now = readFile(listPath);
    if (result) {
        FUZZ_CHECK(merged.has_value(), "the merge succeeded where it must fail");
        FUZZ_CHECK(now && *now == *merged, "the merged list differs from the reference");
    } else {
        FUZZ_CHECK(!merged || disturbed, "the merge failed although nothing went wrong");
        FUZZ_CHECK(now == original, "a failed merge changed the list");
    }
    return 0;
}
