#pragma once

#include <QtGlobal>

// Booleans of the design are 16-bit integers, true = -1 and false = 0, in
// memory and in PCIP.dat; some tests compare with exactly -1.
using VBBoolean = qint16;
inline constexpr VBBoolean VBTrue = -1;
inline constexpr VBBoolean VBFalse = 0;

constexpr VBBoolean toVB(bool value)
{
    return value ? VBTrue : VBFalse;
}
