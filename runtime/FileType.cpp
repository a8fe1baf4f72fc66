#include "runtime/FileType.h"

#include "runtime/Recorder.h"

#include <algorithm>
#include <map>

namespace {

// Lives until the process ends, so that a type still held at exit can take
// its registration back.
std::map<String, RegisteredFileType>& registry()
{
    static auto& types = *new std::map<String, RegisteredFileType>;
    return types;
}

std::vector<String> split(String const& list)
{
    std::vector<String> parts;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t const end = std::min(list.find(';', start), list.size());
        if (end > start)
            parts.push_back(list.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

String lowered(String text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}

ClassRecord FileType::buildRecord()
{
    return ClassRecordBuilder<FileType>("FileType").finaliser(&FileType::Destructor).build();
}

void FileType::assign(String& field, String value)
{
    Deregister();
    field = std::move(value);
}

void FileType::Name(String value) { assign(mName, std::move(value)); }
void FileType::Extensions(String value) { assign(mExtension, std::move(value)); }
void FileType::MacType(String value) { assign(mMacType, std::move(value)); }
void FileType::MacCreator(String value) { assign(mMacCreator, std::move(value)); }

String FileType::Operator_Convert()
{
    Register();
    return mName;
}

void FileType::Register()
{
    if (mRegistered)
        return;
    RuntimeRegisterFileType(mName, mMacCreator, mMacType, mExtension);
    mRegistered = true;
}

void FileType::Deregister()
{
    if (!mRegistered)
        return;
    RuntimeDeregisterFileType(mName);
    mRegistered = false;
}

void FileType::Destructor()
{
    Deregister();
}

void RuntimeRegisterFileType(String const& name, String const& creator, String const& type, String const& extensions)
{
    RuntimeRecord("RuntimeRegisterFileType", { name, creator, type, extensions });
    RegisteredFileType entry { name, creator, type, {} };
    for (String const& extension : split(extensions))
        entry.extensions.push_back(lowered(extension));
    registry()[name] = std::move(entry);
}

void RuntimeDeregisterFileType(String const& name)
{
    RuntimeRecord("RuntimeDeregisterFileType", { name });
    registry().erase(name);
}

std::optional<RegisteredFileType> RuntimeFindFileType(String const& name)
{
    auto found = registry().find(name);
    if (found == registry().end())
        return std::nullopt;
    return found->second;
}

std::vector<RegisteredFileType> RuntimeFileTypesOfFilter(String const& filter)
{
    std::vector<RegisteredFileType> types;
    for (String const& name : split(filter)) {
        if (auto type = RuntimeFindFileType(name))
            types.push_back(std::move(*type));
    }
    return types;
}

bool RuntimeFilterAcceptsFileName(String const& filter, String const& fileName)
{
    String const name = lowered(fileName);
    for (RegisteredFileType const& type : RuntimeFileTypesOfFilter(filter)) {
        for (String const& extension : type.extensions) {
            if (name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
                return true;
        }
    }
    return false;
}
