#pragma once

#include "runtime/Color.h"
#include "runtime/Object.h"

#include <cstdint>
#include <variant>

// A value passed through the runtime's introspection and its delegates: to a
// method called by name, out of and into a property, to an event handler.
// A plain pointer stands for the framework's untyped "Ptr" arguments.
using Value = std::variant<std::monostate, bool, std::int32_t, double, String, Color, Ref<Object>, void*>;
