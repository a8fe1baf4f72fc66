#include "shell/Startup.h"

int main()
{
    return main_();
}
