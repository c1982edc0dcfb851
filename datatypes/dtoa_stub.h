// Throwaway stand-in for the number text conversions until they land; delete
// with dtoa_stub.cpp.
#pragma once

namespace zan::dtoa {

// Shortest text that reads back to the same double (digits 0), or at most
// `digits` significant digits; point_zero writes "1.0" rather than "1".
const char* form_float(double value, int digits, bool point_zero);

}  // namespace zan::dtoa
