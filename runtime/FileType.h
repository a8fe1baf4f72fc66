#pragma once

#include "runtime/ClassRecord.h"

#include <optional>
#include <vector>

// A named file type with its four-character type and creator codes and its
// extensions (each with its dot, separated by ";"). Converting it to String
// registers it with the framework under its name; changing any of its texts,
// or freeing it, takes the registration back.
class FileType : public RuntimeClass<FileType> {
public:
    static ClassRecord buildRecord();

    String const& Name() const { return mName; }
    void Name(String value);
    String const& Extensions() const { return mExtension; }
    void Extensions(String value);
    String const& MacType() const { return mMacType; }
    void MacType(String value);
    String const& MacCreator() const { return mMacCreator; }
    void MacCreator(String value);

    // Registers the type (once) and gives its name.
    String Operator_Convert();

    bool registered() const { return mRegistered; }

private:
    void Register();
    void Deregister();
    void Destructor();
    void assign(String& field, String value);

    String mExtension;
    String mMacCreator;
    String mMacType;
    String mName;
    bool mRegistered = false;
};

// The framework's registry of file types, by name.
void RuntimeRegisterFileType(String const& name, String const& creator, String const& type, String const& extensions);
void RuntimeDeregisterFileType(String const& name);

struct RegisteredFileType {
    String name, creator, type;
    std::vector<String> extensions; // lower case, each with its dot
};

std::optional<RegisteredFileType> RuntimeFindFileType(String const& name);

// The registered types named in a filter list ("image/png;image/jpeg;"):
// names that are not registered are passed over.
std::vector<RegisteredFileType> RuntimeFileTypesOfFilter(String const& filter);

// Whether a file name's extension, in any case, belongs to a type named in
// the filter list.
bool RuntimeFilterAcceptsFileName(String const& filter, String const& fileName);
