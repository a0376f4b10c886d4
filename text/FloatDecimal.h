// A 32-bit float as the double that its shortest decimal names. The server measures in floats;
// widening one directly gives its exact binary value (115.05006 becomes 115.05005645751953),
// noise that then shows in every cell, report and export.
#pragma once

namespace velt {

// The double nearest to the shortest decimal that reads back as value. Infinities and NaN pass
// through unchanged.
double ShortestDouble(float value);

}  // namespace velt
