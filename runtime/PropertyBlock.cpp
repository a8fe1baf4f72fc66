#include "runtime/PropertyBlock.h"

#include "runtime/ClassRecord.h"
#include "runtime/Exceptions.h"

#include <cstdint>

namespace {

[[noreturn]] void raiseEndsInside(std::string_view name)
{
    Raise<RuntimeException>("The property block ends inside the entry for \"" + String(name) + "\"");
}

bool isAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Walks a block from front to back. Every read of a value first checks that
// its bytes are there, and names the entry it belongs to when they are not.
class BlockReader {
public:
    explicit BlockReader(std::string_view block)
        : m_block(block)
    {
    }

    bool atEnd() const { return m_offset == m_block.size(); }

    // The name of the next entry and the blank after it.
    std::string_view name()
    {
        std::size_t const start = m_offset;
        while (m_offset < m_block.size() && isAsciiLetter(m_block[m_offset]))
            ++m_offset;
        std::string_view const name = m_block.substr(start, m_offset - start);
        if (!name.empty() && atEnd())
            raiseEndsInside(name);
        if (name.empty() || m_block[m_offset] != ' ')
            Raise<RuntimeException>("The property block has a malformed property name at byte " + std::to_string(start));
        ++m_offset;
        return name;
    }

    std::string_view bytes(std::size_t count, std::string_view name)
    {
        if (m_block.size() - m_offset < count)
            raiseEndsInside(name);
        std::string_view const taken = m_block.substr(m_offset, count);
        m_offset += count;
        return taken;
    }

    std::uint8_t byte(std::string_view name) { return static_cast<std::uint8_t>(bytes(1, name)[0]); }

    std::uint32_t bigEndian32(std::string_view name)
    {
        std::string_view const four = bytes(4, name);
        std::uint32_t word = 0;
        for (char c : four)
            word = word << 8 | static_cast<std::uint8_t>(c);
        return word;
    }

private:
    std::string_view m_block;
    std::size_t m_offset = 0;
};

Value readBoolean(BlockReader& reader, std::string_view name)
{
    std::uint8_t const flag = reader.byte(name);
    if (flag > 1)
        Raise<RuntimeException>("The property block gives \"" + String(name) + "\" the byte " + std::to_string(flag)
            + ", which is neither 0 (false) nor 1 (true)");
    return Value(flag == 1);
}

Value readColor(BlockReader& reader, std::string_view name)
{
    std::string_view const rgb = reader.bytes(3, name);
    auto channel = [&](std::size_t i) { return static_cast<std::int32_t>(static_cast<std::uint8_t>(rgb[i])); };
    return Value(RGB(channel(0), channel(1), channel(2), 0));
}

Value readString(BlockReader& reader, std::string_view name)
{
    std::uint32_t const count = reader.bigEndian32(name);
    return Value(String(reader.bytes(count, name)));
}

Value readValue(BlockReader& reader, std::string_view name, String const& type)
{
    if (type == "i4")
        return Value(static_cast<std::int32_t>(reader.bigEndian32(name)));
    if (type == "b")
        return readBoolean(reader, name);
    if (type == "c")
        return readColor(reader, name);
    if (type == "s")
        return readString(reader, name);
    Raise<RuntimeException>("The property \"" + String(name) + "\" has the type " + type + ", which a property block cannot carry");
}

// "a Canvas", "an AlphaThing": the class as the messages name it.
String withArticle(String const& className)
{
    bool const vowel = !className.empty() && String("AEIOUaeiou").find(className[0]) != String::npos;
    return (vowel ? "an " : "a ") + className;
}

}

std::vector<PropertyValue> readPropertyBlock(std::string_view block, std::function<String(std::string_view name)> const& typeOf,
    std::string_view owner)
{
    std::vector<PropertyValue> values;
    BlockReader reader(block);
    while (!reader.atEnd()) {
        std::string_view const name = reader.name();
        String const type = typeOf(name);
        if (type.empty())
            Raise<RuntimeException>("The property block names \"" + String(name) + "\", which " + String(owner) + " does not have");
        values.push_back({ String(name), readValue(reader, name, type) });
    }
    return values;
}

void SetProperties_(Ref<Object> const& target, std::string_view block)
{
    Object& object = target.checked();
    ClassRecord const& record = object.classRecord();
    String const owner = withArticle(record.name);

    std::vector<PropertyValue> const values = readPropertyBlock(
        block,
        [&](std::string_view name) {
            PropertyEntry const* property = record.findProperty(name);
            return property ? property->type : String();
        },
        owner);

    // Every property is found, and known to be settable, before the first
    // one is set.
    std::vector<PropertyEntry const*> properties;
    properties.reserve(values.size());
    for (PropertyValue const& value : values) {
        PropertyEntry const* property = record.findProperty(value.name);
        if (!property->set)
            Raise<RuntimeException>("The property \"" + value.name + "\" of " + owner + " cannot be set");
        properties.push_back(property);
    }

    for (std::size_t i = 0; i < values.size(); ++i)
        properties[i]->set(object, values[i].value);
}
