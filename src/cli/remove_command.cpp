#include "cli/commands.h"
#include "cli/printed_events.h"
#include "install/installation.h"

// Removes the selected files that are still installed as the archives have
// them (type, bytes, link target; the permission bits may have changed),
// then the directories their removal leaves empty, never the install
// directory itself. A changed file stays and is named on standard error
// (status 1), unless --purge takes it too; a directory stays whatever it
// holds. A file that cannot be removed is named on standard error (status
// 255). Files already gone are passed over, so an interrupted removal can
// be run again. Every archive and every selected stream is checked before
// anything is removed. With -b, each file is kept in the backup tree before
// it goes, and the record as it was beside it, so that restore brings both
// back.
int CommandRemove::work(Installation& installation, const an_install_request& request, ArchiveCheck& check) {
  const Result<size_t> kept = installation.remove(request, check);
  if (!kept) return -1;
  return kept.value() > 0 ? 1 : 0;
}

an_install_request CommandRemove::what_is_asked() const {
  an_install_request request = CommandOnInstalledFiles::what_is_asked();
  request.backup_dir = backup_dir;
  request.purge = purge;
  return request;
}
