// qz5d: keeps the QZ5 keyboard in step with the user's settings and answers
// the settings application. "--version" as the first argument prints the
// version; every other argument is ignored.
#include <cstdio>
#include <cstring>

#include "config/build_config.hpp"
#include "daemon/application.hpp"

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("qz5d %s\n", kQz5Version);
        return 0;
    }
    return Application::GetApp()->Run();
}
