#pragma once

#include "runtime/Picture.h"

#include <vector>

// A picture that notes its name in a log when its last reference goes, to
// show the order in which owners release their pictures.
class TracedPicture : public RuntimeClass<TracedPicture, Picture> {
public:
    static ClassRecord buildRecord()
    {
        return ClassRecordBuilder<TracedPicture>("TracedPicture", &Picture::Lookup_()).finaliser(&TracedPicture::Exit_).build();
    }
    static Ref<Picture> make(String name, std::vector<String>& log)
    {
        Ref<TracedPicture> picture = RuntimeNewObject<TracedPicture>();
        picture->Constructor(1, 1);
        picture->m_name = std::move(name);
        picture->m_log = &log;
        return picture;
    }

private:
    void Exit_() { m_log->push_back(m_name); }
    String m_name;
    std::vector<String>* m_log = nullptr;
};
