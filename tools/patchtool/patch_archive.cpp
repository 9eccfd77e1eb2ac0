#include "tools/patchtool/patch_archive.h"

#include "engine/file_handle.h"
#include "engine/payload_archive.h"
#include "tools/patchtool/files.h"
#include "tools/patchtool/report.h"

bool openPatchArchive(const char* command, const std::string& path, FileHandle& patch, PayloadArchive& archive) {
    std::string error;
    if (!openWithEngine(patch, path, error)) {
        printError(command, "cannot open " + error);
        return false;
    }
    const UpdateResult result = archive.open(patch);
    if (result != Ok) {
        printError(command, path + ": " + describeResult(result));
        return false;
    }
    return true;
}
