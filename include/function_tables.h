// Function tables made by the score, by slot number. A table that a note
// looks up stays alive for as long as that note lives, even when the score
// later makes a new table in the same slot.
#pragma once

double* floc(int slot);  // null when the slot is empty
int fsize(int slot);     // 0 when the slot is empty
