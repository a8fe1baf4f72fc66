#include "shell/App.h"

ClassRecord App::buildRecord()
{
    return ClassRecordBuilder<App>("App", &Application::Lookup_())
        .method("Constructor", "%%", { PublicScope }, &App::Constructor)
        .build();
}

void App::Constructor()
{
}
