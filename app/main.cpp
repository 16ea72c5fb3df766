// kestrune: the window.
#include "app/application.h"

int main(int argc, char** argv) {
    return kestrune::RunKestrune(argc, argv);
}
