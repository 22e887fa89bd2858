// Universal BER type numbers, their names, and the indefinite length value.
#pragma once

#include <cstdint>

enum EmberBerType : int32_t
{
    eeBerType_Boolean = 1,
    eeBerType_Integer = 2,
    eeBerType_OctetString = 4,
    eeBerType_Real = 9,
    eeBerType_UTF8String = 12,
    eeBerType_RelativeObject = 13,
    eeBerType_Sequence = 16,
    eeBerType_Set = 17,
    eeBerType_GeneralizedTime = 24,
};

// Stands in memory for the BER indefinite length form, both when read and
// when given to the length writer.
constexpr uint32_t IndefiniteLength = 0xFFFFFFFF;

// Highest universal type number an Ember inner tag may carry.
constexpr uint32_t kMaxBerType = 30;

// The name of a universal type ("Integer", "UTF8", ...), or nullptr for 0,
// 14, 15 and every number above 30.
const char* TypeName(uint32_t type);
