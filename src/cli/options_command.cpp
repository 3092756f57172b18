#include "cli/commands.h"

int CommandOptions::run() { return -1; }
