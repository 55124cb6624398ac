// Build probe: the update workers reaching up into the launcher's front end. Linked with
// the worker library (and all it brings) it must fail.
#include "app/launch_app.h"

int main() { return static_cast<int>(CLaunchApp::DecideRole("quillgate.exe", false)); }
