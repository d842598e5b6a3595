#pragma once
// Integer command-line values in decimal or, with 0x, hexadecimal.
#include <boost/any.hpp>
#include <boost/program_options.hpp>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

namespace tarnix {
namespace sim {

// The value of "text" in decimal or, after 0x or 0X, hexadecimal; throws
// std::invalid_argument naming `what` when it is not such a number or exceeds
// `maximum`. A leading zero does not make a number octal.
uint64_t parseNumber(const std::string& text, const char* what, uint64_t maximum = UINT64_MAX);

// An option value of type T read by parseNumber (see numberValue).
template <class T>
struct NumberOption {
    T value;
};

template <class T>
std::ostream& operator<<(std::ostream& os, const NumberOption<T>& number) {
    return os << +number.value;
}

// Found by the option parser for NumberOption values.
template <class T>
void validate(boost::any& target, const std::vector<std::string>& tokens, NumberOption<T>*, int) {
    namespace po = boost::program_options;
    static_assert(std::is_integral<T>::value, "integer options only");
    po::validators::check_first_occurrence(target);
    const std::string& text = po::validators::get_single_string(tokens);
    try {
        target = NumberOption<T>{T(parseNumber(text, "number", uint64_t(std::numeric_limits<T>::max())))};
    } catch (const std::invalid_argument&) {
        throw po::invalid_option_value(text);
    }
}

// An option that stores a decimal or hexadecimal number into *field, showing
// the field's current value as its default.
template <class T>
boost::program_options::typed_value<NumberOption<T>>* numberValue(T* field) {
    return boost::program_options::value<NumberOption<T>>()
        ->default_value(NumberOption<T>{*field})
        ->notifier([field](const NumberOption<T>& number) { *field = number.value; });
}

// The same without a default shown (the option is left unset when absent).
template <class T>
boost::program_options::typed_value<NumberOption<T>>* optionalNumberValue(T* field) {
    return boost::program_options::value<NumberOption<T>>()->notifier(
        [field](const NumberOption<T>& number) { *field = number.value; });
}

}  // namespace sim
}  // namespace tarnix
