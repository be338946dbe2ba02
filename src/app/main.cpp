#include "app/start_program.h"

int main(int argc, char *argv[]) {
    return viewer::RunApplication(argc, argv, viewer::StartProgram);
}
