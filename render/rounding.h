#pragma once

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4), as every
// conversion of a real value to pixels in this program does.
int RoundHalfEven(double Value);
