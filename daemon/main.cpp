// qz5d: keeps the QZ5 keyboard in step with the user's settings and answers
// the settings application. Command-line arguments are ignored.
#include "daemon/application.hpp"

int main() { return Application::GetApp()->Run(); }
