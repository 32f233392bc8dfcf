#pragma once
// Access to the private servers the CTest fixtures start (tests/env).

#include <string>

namespace velmora::test {

// Takes the variables the fixtures wrote into the environment; test mains
// call it before anything else.
void loadFixtureEnvironment();

// The 24-bit test display (":N"), or empty when the x11 fixture is absent.
std::string display24();
// The 16-bit test display, or empty.
std::string display16();
// PulseAudio server address of the audio fixture, or empty.
std::string pulseServer();

// Runs a shell command with the test environment; returns its exit status.
int run(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string capture(const std::string& command);

}  // namespace velmora::test
