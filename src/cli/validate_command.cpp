#include "cli/commands.h"

int CommandValidate::run() { return -1; }
