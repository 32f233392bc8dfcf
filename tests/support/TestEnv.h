#pragma once
// Access to the private servers the CTest fixtures start (tests/env).

#include <string>

namespace velmora::test {

// Takes the variables the fixtures wrote for this test's slot into the
// environment; test mains call it before anything else.
void loadFixtureEnvironment();
// The test program's exit status: result, or 1 when a process this program
// started (whatever started it in turn) still runs. Test mains return it.
int finishTests(int result);

// The 24-bit test display (":N"), or empty when the x11 fixture is absent.
std::string display24();
// The 16-bit test display, or empty.
std::string display16();
// The 1920x1080 display whose size, monitors and resources tests may change
// (putting them back), or empty.
std::string displayRandr();

// Scaling asked for on the command line of a Qt test (velmora_server_tests ARGS in
// tests/CMakeLists.txt): "--qt-scale=F" sets QT_SCALE_FACTOR; "--xft-dpi=N"
// moves the test to the RandR display (which becomes $DISPLAY and
// display24()) and sets its Xft.dpi resource, as a desktop does. Without
// "--xft-dpi" that display's resources are removed. Call before the
// QApplication exists: Qt reads both when it starts.
void applyRequestedScaling(int argc, char** argv);
// PulseAudio server address of the audio fixture, or empty.
std::string pulseServer();

// Runs a shell command with the test environment; returns its exit status.
int run(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string capture(const std::string& command);

}  // namespace velmora::test
