#include "veldra/drift/bias_rule.h"

#include "common/numbers.h"

bool AcceptBiasText(const std::string& text, double& bias) {
    const std::optional<double> value = ParseLocaleNumber(text);
    if (!value || *value < kMinimumBias || *value > kMaximumBias)
        return false;
    bias = *value;
    return true;
}
