// The plan of an upgrade as `upgrade --dry-run --json` writes it, for
// configuration tools that must tell a change from none before they run
// anything:
//
//   {"directory": ..., "options": <the option text installed>,
//    "versions": {"before": [...], "after": [...]},
//    "recorded": {"command": <the last install or upgrade recorded>,
//                 "complete": <whether it finished>},
//    "changes": <true exactly when the upgrade would write or remove a file>,
//    "counts": {"add": n, "replace": n, "same": n, "keep-changed": n, "remove": n},
//    "files": [{"name": ..., "action": ..., "beside": "<name>.kestrel-new"}, ...]}
//
// "beside" is there only for a kept file whose new version would be written
// beside it. Names are shown as json_text shows them (platform/json.h).
#pragma once

#include <vector>

#include "install/install_record.h"
#include "install/installed_files.h"
#include "platform/json.h"

class UpgradePlan;

// Adds "changes", "counts" and "files" of |plan| to |document| (the
// members before them are the installation's: InstallRun::plan_document). |record| is
// the installation's record and |installed| what compare_recorded_files
// found of it below the install directory |root|, which is looked at to
// tell whether a directory the plan takes away would go (it goes only when
// nothing else is left in it).
void add_plan_to_document(const UpgradePlan& plan, const std::map<std::string, a_recorded_file>& record,
                          const std::vector<an_installed_file>& installed, int root, Json& document);
