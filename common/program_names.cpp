#include "common/program_names.h"

std::string FontFace;

const char DirectModeCaption[] = "Print Mode: Direct Print";
const char BitmapModeCaption[] = "Print Mode: Bitmap Print";
