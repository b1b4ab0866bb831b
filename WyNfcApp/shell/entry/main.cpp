// WyNfcApp: the desktop application.

#include "shell/main_app.h"

int main(int argc, char** argv) {
    return wynfc::shell::MainApp::run(argc, argv);
}
