// Anatomical tooth names for the two-digit tooth numbers of the photograph files.
#pragma once

#include <QString>

#include <cstdint>

// The name of tooth Number (11..48; first digit the quadrant: 1 right upper, 2 left upper,
// 3 left lower, 4 right lower) in the dog table (Dog true) or the cat table, such as "RmaxI2".
// Empty for a number outside 11..48 or one the species has no name for. Any thread.
QString ToothName(bool Dog, int32_t Number);
