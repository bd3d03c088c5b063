#include "status_line.h"

#include <math.h>

enum { meter_width = 30 };
static const double meter_floor_db = -60.0;

void status_line_show(FILE* terminal, double elapsed, double total, float peak) {
  double db = peak > 0 ? 20.0 * log10((double)peak) : meter_floor_db;
  if (db < meter_floor_db) db = meter_floor_db;
  int filled = (int)lround((db - meter_floor_db) / -meter_floor_db * meter_width);
  if (filled > meter_width) filled = meter_width;
  char meter[meter_width + 1];
  for (int i = 0; i < meter_width; i++) meter[i] = i < filled ? '#' : '-';
  meter[meter_width] = '\0';
  fprintf(terminal, "\r\033[K%6.1f s / %.1f s  [%s]  ", elapsed, total, meter);
  if (peak > 0 && db > meter_floor_db)
    fprintf(terminal, "%6.1f dBFS", db);
  else
    fputs("silence", terminal);
  fflush(terminal);
}

void status_line_clear(FILE* terminal) {
  fputs("\r\033[K", terminal);
  fflush(terminal);
}
