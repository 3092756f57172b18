// What the program can tell about the terminal it writes to.
#pragma once

// The number of columns of the terminal open on |fd|, or 0 when |fd| is not
// a terminal or the terminal does not say.
int terminal_columns(int fd);
