#pragma once

// Skips the program name at the start of a command line and the spaces after it. A name that
// begins with a double quote ends at the next double quote; otherwise at the first space or
// control character.
const char* SkipProgramName(const char* CommandLine);
