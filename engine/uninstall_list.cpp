#include "engine/uninstall_list.h"

#include <cstring>
#include <new>

#include "engine/code_page.h"
#include "engine/file_handle.h"
#include "engine/file_system.h"
#include "engine/folder_handle.h"
#include "engine/installed_list.h"
#include "engine/list_rewrite.h"
#include "engine/text_join.h"

namespace {

constexpr uint32_t firstIndexCapacity = 64;

// 32-bit FNV-1a over the text's bytes.
uint32_t hashText(const char* text, uint32_t length) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; ++i) {
        hash ^= static_cast<unsigned char>(text[i]);
        hash *= 16777619u;
    }
    return hash;
}

// The slot of the index that holds the entry with this text, or the empty slot where it belongs.
// The index is never full, so the probe ends.
UninstallEntry** findSlot(UninstallEntry** index, uint32_t capacity, const char* text, uint32_t length, uint32_t hash) {
    const uint32_t mask = capacity - 1;
    for (uint32_t i = hash & mask;; i = (i + 1) & mask) {
        const UninstallEntry* entry = index[i];
        if (entry == nullptr ||
            (entry->hash == hash && entry->length == length && std::memcmp(entry->text, text, length) == 0)) {
            return &index[i];
        }
    }
}

// Doubles the index (or makes its first table) and files every entry again.
bool growIndex(UninstallList& list) {
    if (list.indexCapacity >= 0x80000000u) return false;
    const uint32_t capacity = list.indexCapacity == 0 ? firstIndexCapacity : list.indexCapacity * 2;
    UninstallEntry** index = new (std::nothrow) UninstallEntry*[capacity]();
    if (index == nullptr) return false;
    for (UninstallEntry* entry = list.head; entry != nullptr; entry = entry->next) {
        *findSlot(index, capacity, entry->text, entry->length, entry->hash) = entry;
    }
    delete[] list.index;
    list.index = index;
    list.indexCapacity = capacity;
    return true;
}

// Appends a copy of the text at the tail of the list unless the list already holds it. False only
// when memory runs out; the list is then unchanged.
bool appendUnique(UninstallList& list, const char* text, uint32_t length) {
    // At most half of the slots are taken, which keeps the probe runs short.
    if (list.count >= list.indexCapacity / 2 && !growIndex(list)) return false;
    const uint32_t hash = hashText(text, length);
    UninstallEntry** slot = findSlot(list.index, list.indexCapacity, text, length, hash);
    if (*slot != nullptr) return true;
    char* copy = new (std::nothrow) char[length + 1];
    UninstallEntry* entry = copy == nullptr ? nullptr : new (std::nothrow) UninstallEntry{copy, length, hash, nullptr};
    if (entry == nullptr) {
        delete[] copy;
        return false;
    }
    std::memcpy(copy, text, length);
    copy[length] = '\0';
    (list.tail == nullptr ? list.head : list.tail->next) = entry;
    list.tail = entry;
    ++list.count;
    *slot = entry;
    return true;
}

// Lower-cases a copy of the `length` bytes at `source` and appends it to `dollar` when that list
// is given and the copy begins with "$", else to `plain`. The copy is made in the line buffer; one
// that does not fit there is kept whole in a buffer of its own size.
bool addLowerCased(const char* source, uint32_t length, UninstallList& plain, UninstallList* dollar) {
    char buffer[uninstallLineBufferSize];
    char* line = buffer;
    if (length >= sizeof buffer) {
        if (length == UINT32_MAX) return false;
        line = new (std::nothrow) char[length + 1];
        if (line == nullptr) return false;
    }
    std::memcpy(line, source, length);
    line[length] = '\0';
    lowerCaseName(line);
    // A double-byte character without a mapping empties the copy, so measure it again.
    const uint32_t loweredLength = static_cast<uint32_t>(std::strlen(line));
    UninstallList& list = dollar != nullptr && line[0] == '$' ? *dollar : plain;
    const bool added = appendUnique(list, line, loweredLength);
    if (line != buffer) delete[] line;
    return added;
}

// The length of the first `length` bytes without a lead byte that ends them: half a double-byte
// character is no character. Were it kept, the LF written after it would read back as its trail
// byte and join the line with the next one.
uint32_t completeCharactersLength(const char* text, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (isLeadByte(static_cast<unsigned char>(text[i]))) {
            if (i + 1 == length) return i;
            ++i;
        }
    }
    return length;
}

// The end of the line that starts at `line`: its first CR or LF or the NUL that ends the text.
// A lead byte and the byte after it are stepped over as one character, so a trail byte is never
// taken for a line end; a lead byte right before the NUL is left to the caller, which drops it. Both line-end bytes
// are looked for in one pass, which keeps parsing linear whichever of them a file lacks.
const char* lineEnd(const char* line) {
    const char* p = line;
    while (*p != '\0' && *p != '\r' && *p != '\n') {
        if (isLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') ++p;
        ++p;
    }
    return p;
}

// The whole list as a NUL-terminated text ending at its first NUL byte, or nullptr when the file
// is missing, a link, a file other names share or read-only, empty or of unknown size, or does not
// read completely: bytes that were not read never reach the parser, so a partial list is never
// written back. The code of a call that failed goes to `failure`.
char* readListText(const FolderHandle& folder, RewriteFailure* failure) {
    FileHandle file;
    if (!openInstalledList(file, folder, uninstallListName)) {
        failedCall(failure);
        return nullptr;
    }
    clearSystemErrorCode();  // an empty list is refused with no call failing
    const uint32_t size = file.size();
    if (size == 0 || size == invalidFileSize) {
        failedCall(failure);
        return nullptr;
    }
    char* text = new (std::nothrow) char[size + 1];
    if (text == nullptr) return nullptr;
    // One read of the whole file. A byte beyond the size means the file is longer than the size
    // says (4 GiB or more, or it grew meanwhile); that list is not taken either.
    char beyond = 0;
    clearSystemErrorCode();
    if (file.read(text, size) != size || file.read(&beyond, 1) != 0) {
        failedCall(failure);
        delete[] text;
        return nullptr;
    }
    text[size] = '\0';
    return text;
}

// The rewritten text, assembled in one buffer that doubles whenever the next line would not fit.
struct OutputText {
    char* bytes;
    uint32_t capacity;
    uint32_t used;
};

// Appends every line of the list and its LF, keeping room for the closing NUL. False when the
// buffer cannot grow; it then holds the text so far.
bool appendLines(OutputText& output, const UninstallList& list) {
    for (const UninstallEntry* entry = list.head; entry != nullptr; entry = entry->next) {
        const uint64_t needed = uint64_t{output.used} + entry->length + 2;
        if (needed > output.capacity) {
            uint64_t capacity = output.capacity;
            while (capacity < needed) capacity *= 2;
            // The whole text goes out in one write of a 32-bit count.
            if (capacity > 0x80000000u) return false;
            char* bytes = new (std::nothrow) char[capacity];
            if (bytes == nullptr) return false;
            std::memcpy(bytes, output.bytes, output.used);
            delete[] output.bytes;
            output.bytes = bytes;
            output.capacity = static_cast<uint32_t>(capacity);
        }
        std::memcpy(output.bytes + output.used, entry->text, entry->length);
        output.bytes[output.used + entry->length] = '\n';
        output.used += entry->length + 1;
    }
    return true;
}

}  // namespace

bool parseUninstallText(const char* text, UninstallList& plain, UninstallList& dollar) {
    const char* p = text;
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t') ++p;
        const char* end = lineEnd(p);
        const uint32_t length = completeCharactersLength(p, static_cast<uint32_t>(end - p));
        if (length != 0 && !addLowerCased(p, length, plain, &dollar)) return false;
        p = end;
        while (*p == '\r' || *p == '\n') ++p;
    }
    return true;
}

bool addUninstallNames(const char* const* names, UninstallList& plain) {
    if (names == nullptr) return true;
    for (; *names != nullptr; ++names) {
        const size_t length = std::strlen(*names);
        if (length >= UINT32_MAX ||
            !addLowerCased(*names, completeCharactersLength(*names, static_cast<uint32_t>(length)), plain, nullptr)) {
            return false;
        }
    }
    return true;
}

bool writeUninstallList(const FolderHandle& folder, const UninstallList& plain, const UninstallList& dollar,
                        RewriteFailure* failure) {
    OutputText output{new (std::nothrow) char[uninstallOutputInitialCapacity], uninstallOutputInitialCapacity, 0};
    if (output.bytes == nullptr) return false;
    bool written = appendLines(output, plain) && appendLines(output, dollar);
    if (written) {
        output.bytes[output.used] = '\0';
        written = replaceInstalledList(folder, uninstallListName, uninstallListTemporaryName,
                                       {{output.bytes, output.used + 1}}, failure);
    }
    delete[] output.bytes;
    return written;
}

void releaseUninstallList(UninstallList& list) {
    for (UninstallEntry* entry = list.head; entry != nullptr;) {
        UninstallEntry* next = entry->next;
        delete[] entry->text;
        delete entry;
        entry = next;
    }
    delete[] list.index;
    list = UninstallList{};
}

bool mergeUninstallList(const FolderHandle& folder, const char* const* names, RewriteFailure* failure) {
    if (failure != nullptr) *failure = {};
    char* text = readListText(folder, failure);
    if (text == nullptr) return false;
    UninstallList plain{};
    UninstallList dollar{};
    bool merged = parseUninstallText(text, plain, dollar);
    delete[] text;
    merged = merged && addUninstallNames(names, plain) && writeUninstallList(folder, plain, dollar, failure);
    releaseUninstallList(plain);
    releaseUninstallList(dollar);
    return merged;
}

bool mergeUninstallList(const char* folder, const char* const* names) {
    char path[uninstallPathBufferSize];
    FolderHandle opened;
    return joinText(path, sizeof path, {folder, "\\", uninstallListTemporaryName}) && openFolder(opened, folder) &&
           mergeUninstallList(opened, names);
}
