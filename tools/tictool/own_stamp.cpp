// tictool's own version stamp block, built into the executable, so that
// `kestrel version MODULE tictool` and `tictool --version` read it.
#include "own_stamp.h"

// Each piece is its own literal so that no "\0" can run into a following
// digit. The literal's own terminator is the block's closing NUL.
__attribute__((used)) const char __DBVersionInfo_tictool[] =
    "@@==Version==@1@"
    "MODULE=tictool" "\0"
    "VERSION_CLASS=GA" "\0"
    "VERSION_MAJOR=17" "\0"
    "VERSION_MINOR=0" "\0"
    "VERSION_PATCH=11" "\0"
    "BUILD_NUMBER=7254" "\0"
    "PRODUCTION=production" "\0"
    "IDENT=tictool/17.0.11/7254" "\0";

const size_t kTictoolStampSize = sizeof __DBVersionInfo_tictool;
