// Installs every backend the tests run on: the doubles of this folder and gdk-pixbuf's real decoder.
// Leaves out the desktop backends, which a test of them installs itself.
#ifndef PELOMI_WIN32_TESTING_TEST_BACKENDS_H
#define PELOMI_WIN32_TESTING_TEST_BACKENDS_H

namespace w32 {

// The headless display, the scripted microphone (reset), the scripted file chooser and the gdk-pixbuf
// decoder, for a test program's main() before any test runs.
void UseTestBackends();

}  // namespace w32

#endif
