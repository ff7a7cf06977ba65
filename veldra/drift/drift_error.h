#pragma once
// The failure of one image's drift arithmetic (equal image times, overflow, NaN).
// It ends that image's run at the pipeline's boundary; the program goes on.
#include <stdexcept>
#include <string>

struct DriftArithmeticError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Logs " :    <what> is not a finite number -- image not used" to programFolder's log
// and throws DriftArithmeticError when value is infinite or NaN.
void RequireFinite(const std::string& programFolder, double value, const std::string& what);
