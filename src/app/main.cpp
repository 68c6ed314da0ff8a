#include "application.h"
#include "form2.h"

int main(int argc, char *argv[])
{
    // The program reads no command line: Qt sees the program's own name only.
    int qtArgc = argc > 0 ? 1 : 0;
    TApplication application(qtArgc, argv);
    return RunMainWindow<TForm2>();
}
