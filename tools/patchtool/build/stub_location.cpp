#include "tools/patchtool/build/stub_location.h"

#include <filesystem>
#include <utility>
#include <vector>

#include "tools/patchtool/platform.h"

namespace {

// The stub seen from the folder of an installed patchtool; the build sets it from the install
// layout ("../share/vennholt-patch/setup.exe", or "setup.exe" beside patchtool.exe).
constexpr char installedStub[] = PATCHTOOL_INSTALLED_STUB;
// The shipping build of a source tree, seen from its top folder.
constexpr char sourceTreeStub[] = "build/win32/setup.exe";

}  // namespace

bool findStub(std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::vector<std::pair<fs::path, const char*>> places;
    const std::string ownFolder = ownExecutableFolder();
    if (!ownFolder.empty()) places.emplace_back(fileSystemPath(ownFolder) / installedStub, "installed with patchtool");
    std::error_code failure;
    const fs::path here = fs::current_path(failure);
    places.emplace_back(failure ? fs::path(sourceTreeStub) : here / sourceTreeStub, "a source tree's shipping build");
    std::string looked;
    for (const auto& [place, what] : places) {
        std::string shown;
        utf8Path(place.lexically_normal(), shown);
        if (fs::is_regular_file(place, failure)) {
            path = shown;
            return true;
        }
        looked += (looked.empty() ? "" : " and ") + shown + " (" + what + ")";
    }
    error = "no stub found; looked for " + looked + "; give one with --stub STUB";
    return false;
}
