#include "app/frmMain.h"

int main(int argc, char** argv) {
    return platform::Run(frmMain, argc, argv);
}
