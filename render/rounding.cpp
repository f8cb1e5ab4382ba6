#include "render/rounding.h"

#include <cmath>

int RoundHalfEven(double Value)
{
    double Floor = std::floor(Value);
    double Fraction = Value - Floor;
    if (Fraction > 0.5 || (Fraction == 0.5 && std::fmod(Floor, 2.0) != 0.0))
        Floor += 1.0;
    return static_cast<int>(Floor);
}
