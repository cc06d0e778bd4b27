// UseTestBackends: the one place that says which backends the tests run on.
// Leaves out resetting their records between tests: each test's fixture does that.
#include "testing/test_backends.h"

#include "pixbuf/pixbuf_bmp_decoder.h"
#include "testing/headless_display.h"
#include "testing/scripted_file_chooser.h"
#include "testing/scripted_wave_device.h"

namespace w32 {

void UseTestBackends() {
    UseHeadlessDisplay();
    UseScriptedWaveDevice();
    UseScriptedFileChooser();
    UsePixbufImageDecoder();
}

}  // namespace w32
