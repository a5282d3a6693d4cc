#include "Nomenclature.h"

namespace {

constexpr int32_t FirstNumber = 11;
constexpr int32_t LastNumber = 48;
constexpr int32_t TableSize = LastNumber - FirstNumber + 1;

// Dogs: every quadrant runs I2, I3, C, P1 .. P4, M1 from the second digit 1.
constexpr const char* DogNames[TableSize] = {
    "RmaxI2", "RmaxI3", "RmaxC", "RmaxP1", "RmaxP2", "RmaxP3", "RmaxP4", "RmaxM1", "", "",
    "LmaxI2", "LmaxI3", "LmaxC", "LmaxP1", "LmaxP2", "LmaxP3", "LmaxP4", "LmaxM1", "", "",
    "LmanI2", "LmanI3", "LmanC", "LmanP1", "LmanP2", "LmanP3", "LmanP4", "LmanM1", "", "",
    "RmanI2", "RmanI3", "RmanC", "RmanP1", "RmanP2", "RmanP3", "RmanP4", "RmanM1",
};

// Cats: the upper jaw has no P1; the lower jaw has neither P1 nor P2 and starts at the second digit 2.
constexpr const char* CatNames[TableSize] = {
    "RmaxI1", "RmaxI2", "RmaxI3", "RmaxC", "RmaxP2", "RmaxP3", "RmaxP4", "RmaxM1", "", "",
    "LmaxI1", "LmaxI2", "LmaxI3", "LmaxC", "LmaxP2", "LmaxP3", "LmaxP4", "LmaxM1", "", "",
    "",       "LmanI1", "LmanI2", "LmanI3", "LmanC", "LmanP3", "LmanP4", "LmanM1", "", "",
    "",       "RmanI1", "RmanI2", "RmanI3", "RmanC", "RmanP3", "RmanP4", "RmanM1",
};

} // namespace

QString ToothName(bool Dog, int32_t Number)
{
    if (Number < FirstNumber || Number > LastNumber)
        return {};
    const char* name = (Dog ? DogNames : CatNames)[Number - FirstNumber];
    return QString::fromLatin1(name);
}
