#include "cli/commands.h"
#include "install/installation.h"

// Removes the selected files that are still installed as the archives have
// them (type, bytes, link target; the permission bits may have changed),
// then the directories their removal leaves empty, never the install
// directory itself. A file that was changed, or cannot be removed, stays
// and is named on standard error, and the status is then 255. Files already
// gone are passed over, so an interrupted removal can be run again. Every
// archive and every selected stream is checked before anything is removed.
bool CommandRemove::work(Installation& installation, const an_install_request& request, ArchiveCheck& check) {
  return installation.remove(request, check).ok();
}
