// The number conversions of the game code.
#include "lang/Int16.h"

#include <cmath>

namespace rt {

Int16 Int(double x) {
    if (!std::isfinite(x))
        raise(ErrorKind::FloatingPointFault, "Int of a value that is not a number");
    const double whole = std::floor(x);
    if (whole < Int16::Min || whole > Int16::Max)
        raise(ErrorKind::Overflow, "Int(" + std::to_string(x) + ") does not fit in 16 bits");
    return Int16(static_cast<int>(whole));
}

double CDbl(Int16 v) {
    return v.value();
}

std::string CStr(Int16 v) {
    return std::to_string(v.value());
}

} // namespace rt
