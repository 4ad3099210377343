#include "gui/TVindralApplication.h"

int main(int Argc, char** Argv) {
    TVindralApplication App(Argc, Argv);
    return App.Run();
}
