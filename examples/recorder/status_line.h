/* The live line a recording shows on a terminal: elapsed time and a level
 * meter of the latest peak, redrawn in place. */
#ifndef MIVO_STATUS_LINE_H
#define MIVO_STATUS_LINE_H

#include <stdio.h>

/* Redraws the line: "  3.2 s / 10.0 s  [#########-----------]  -12.4 dBFS". */
void status_line_show(FILE* terminal, double elapsed, double total, float peak);

/* Clears the line so that the next message starts on an empty line. */
void status_line_clear(FILE* terminal);

#endif
