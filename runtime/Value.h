#pragma once

#include "runtime/Object.h"

#include <cstdint>
#include <variant>

// A value passed through the runtime's introspection: to a method called by
// name, or out of and into a property.
using Value = std::variant<std::monostate, bool, std::int32_t, double, String, Ref<Object>>;
