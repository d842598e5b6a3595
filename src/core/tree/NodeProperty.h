#pragma once
#include <boost/variant.hpp>

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace tarnix {

// One entry of a "values" help list: what the value means, the value itself and
// a short tag (a bit label such as "b0"; empty in most lists). The value is an
// integer in every list but one, whose values are doubles.
struct NodeValueListEntry {
    typedef boost::variant<int64_t, double> Value;

    template <class T, typename std::enable_if<std::is_arithmetic<T>::value, int>::type = 0>
    NodeValueListEntry(std::string descriptionText, T entryValue, std::string labelText = std::string())
        : description(std::move(descriptionText)), value(toValue(entryValue)), label(std::move(labelText)) {}

    std::string description;
    Value value;
    std::string label;

private:
    template <class T>
    static Value toValue(T v) {
        if (std::is_floating_point<T>::value) return Value(static_cast<double>(v));
        return Value(static_cast<int64_t>(v));
    }
};

// The value of a "values" property: a reference into a table owned by the node
// definition. The table outlives every node, so the node never owns it.
struct NodeValueList {
    uint32_t count = 0;
    const NodeValueListEntry* entries = nullptr;

    NodeValueList() = default;
    explicit NodeValueList(const std::vector<NodeValueListEntry>& table)
        : count(static_cast<uint32_t>(table.size())), entries(table.empty() ? nullptr : table.data()) {}
    bool operator==(const NodeValueList& other) const {
        return count == other.count && entries == other.entries;
    }
};

// One help property of a node: a 64-bit integer, a double, a bool, a string or a
// value list. The constructors pick the kind explicitly so that a string literal
// never silently becomes a bool and a plain int becomes the 64-bit integer kind.
class NodeProperty {
public:
    typedef boost::variant<int64_t, double, bool, std::string, NodeValueList> Value;

    NodeProperty() : value_(int64_t(0)) {}
    NodeProperty(bool v) : value_(v) {}
    NodeProperty(const char* v) : value_(std::string(v)) {}
    NodeProperty(std::string v) : value_(std::move(v)) {}
    NodeProperty(NodeValueList v) : value_(v) {}
    template <class T, typename std::enable_if<std::is_integral<T>::value && !std::is_same<T, bool>::value,
                                               int>::type = 0>
    NodeProperty(T v) : value_(static_cast<int64_t>(v)) {}
    template <class T, typename std::enable_if<std::is_floating_point<T>::value, int>::type = 0>
    NodeProperty(T v) : value_(static_cast<double>(v)) {}

    const Value& value() const { return value_; }

    // Throws boost::bad_get when the property holds another kind.
    template <class T>
    const T& get() const {
        return boost::get<T>(value_);
    }
    template <class T>
    bool holds() const {
        return boost::get<T>(&value_) != nullptr;
    }

private:
    Value value_;
};

}  // namespace tarnix
