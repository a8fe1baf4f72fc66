#pragma once

#include "runtime/Object.h"
#include "runtime/Value.h"

#include <functional>
#include <string_view>
#include <vector>

// A property block sets several properties of one object from a constant
// byte string. It is a run of entries with nothing before, between or after
// them; each entry is the property's name in ASCII letters, one blank (0x20)
// and the value. The block carries no type tags: the width of each value
// follows from the type text of the named property:
//
//   "i4"  Integer  4 bytes, signed, big-endian
//   "b"   Boolean  1 byte, 0 for false and 1 for true
//   "c"   Color    3 bytes: red, green, blue; the colour is opaque
//   "s"   String   a 4-byte big-endian byte count, then that many UTF-8 bytes
//
// Blocks hold zero bytes, so they travel as a string_view with their length.

struct PropertyValue {
    String name;
    Value value;
};

// Reads every entry of the block, in order. typeOf gives the type text of a
// property name, or an empty string for a name the target does not have;
// owner names the target in the message for such a name ("a Canvas").
// Raises RuntimeException for an unknown name, a malformed name, a block that
// ends inside an entry, a Boolean byte other than 0 or 1, and a property
// whose type a block cannot carry.
std::vector<PropertyValue> readPropertyBlock(std::string_view block, std::function<String(std::string_view name)> const& typeOf,
    std::string_view owner = "the object");

// Sets the properties the block names on the target, in the block's order,
// through the target's class record. The whole block is read and checked
// before the first property is set, so a block that is faulty anywhere sets
// nothing. A Nil target raises NilObjectException.
void SetProperties_(Ref<Object> const& target, std::string_view block);
