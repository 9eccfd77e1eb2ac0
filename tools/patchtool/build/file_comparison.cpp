#include "tools/patchtool/build/file_comparison.h"

#include <cstring>

#include "tools/patchtool/files.h"
#include "tools/patchtool/report.h"

bool compareFile(const std::string& path, const std::vector<std::string>& others, ComparedFile& compared,
                 uint8_t* buffer, uint8_t* otherBuffer, std::string& error) {
    const OwnedFile file = openInputFile(path, compared.size, error);
    if (!file) return false;
    // Only a file of the same size can hold the same bytes; the others are not read at all.
    compared.same.assign(others.size(), false);
    std::vector<OwnedFile> open(others.size());
    for (size_t i = 0; i < others.size(); ++i) {
        uint64_t size = 0;
        if (others[i].empty()) continue;
        open[i] = openInputFile(others[i], size, error);
        if (!open[i]) return false;
        compared.same[i] = size == compared.size;
        if (!compared.same[i]) open[i].reset();
    }
    compared.value.reset();
    for (uint64_t left = compared.size; left > 0;) {
        const size_t wanted = left < fileChunkSize ? static_cast<size_t>(left) : fileChunkSize;
        if (std::fread(buffer, 1, wanted, file.get()) != wanted) {
            error = path + (std::ferror(file.get()) ? ": " + lastSystemError() : ": became shorter while being read");
            return false;
        }
        compared.value.update(buffer, static_cast<uint32_t>(wanted));
        for (size_t i = 0; i < others.size(); ++i) {
            if (!compared.same[i]) continue;
            const size_t read = std::fread(otherBuffer, 1, wanted, open[i].get());
            if (std::ferror(open[i].get())) {
                error = others[i] + ": " + lastSystemError();
                return false;
            }
            compared.same[i] = read == wanted && std::memcmp(buffer, otherBuffer, wanted) == 0;
            if (!compared.same[i]) open[i].reset();
        }
        left -= wanted;
    }
    if (std::fgetc(file.get()) == EOF) return true;
    error = path + ": grew while being read";
    return false;
}
