#pragma once

// File > Print: shows the Print dialog and prints the test page on the printer chosen there,
// in the mode in force.
void PrintCommand();
