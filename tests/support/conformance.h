// Marks the checks of one test that pin our choice where Windows documents nothing (Windows 10's metrics and
// colours, error codes left open): they run on the layer, and are left out of the Windows build of the
// test, whose other checks pin documented behaviour. Whole tests of our choice are listed in
// wine-expectations.txt instead.
#ifndef PELOMI_TESTS_CONFORMANCE_H
#define PELOMI_TESTS_CONFORMANCE_H

#ifdef _WIN32
#define LAYER_CHOICE(...) \
    do {                  \
    } while (0)
#else
#define LAYER_CHOICE(...) \
    do {                  \
        __VA_ARGS__;      \
    } while (0)
#endif

#endif
