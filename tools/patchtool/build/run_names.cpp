#include "tools/patchtool/build/run_names.h"

#include <map>
#include <utility>

#include "engine/uninstall_list.h"
#include "engine/update_run.h"
#include "engine/version_list.h"
#include "tools/patchtool/build/refusals.h"
#include "tools/patchtool/name_encoding.h"

std::vector<std::string> filesAtRunNames(const std::vector<NamedFile>& files, const std::vector<NamedFile>& installed) {
    std::map<std::string, std::string> runNames;  // folded name -> why the run writes it
    const std::pair<const char*, const char*> temporaries[] = {{uninstallListTemporaryName, uninstallListName},
                                                               {versionListPruneName, versionListName}};
    for (const auto& [temporary, list] : temporaries) {
        runNames.emplace(foldedName(temporary), std::string("the temporary file the updater writes for ") + list);
    }
    for (const NamedFile& file : installed) {
        if (!file.folded.empty()) {
            runNames.emplace(file.folded + stagingSuffix,
                             "the staging file of " + file.shown + ", which the patch installs");
        }
    }
    std::vector<std::string> clashes;
    for (const NamedFile& file : files) {
        const auto clash = file.folded.empty() ? runNames.end() : runNames.find(file.folded);
        if (clash != runNames.end()) {
            clashes.push_back(refused(file.shown, refusal::atRunName, clash->second));
        }
    }
    return clashes;
}
