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
//
// The document is written as the plan is walked, a file at a time: the
// same bytes as json_document of the whole, never the whole in memory.
#pragma once

#include <functional>
#include <string>

#include "platform/failure.h"
#include "platform/json.h"

class UpgradePlan;

// Hands |put| the document in pieces, ending with a newline: the members
// of |head| (the installation's: InstallRun::plan_document), then
// "changes", "counts" and "files" of |plan|. The install directory |root|
// is looked at to tell whether a directory the plan takes away would go
// (only when nothing else is left in it) and whether one it adds stands
// already. Fails when the record no longer reads as it did.
Outcome put_plan_document(const UpgradePlan& plan, Json head, int root,
                          const std::function<void(const std::string&)>& put);
